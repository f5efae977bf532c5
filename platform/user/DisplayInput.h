// The window manager's input: the facts the display back-ends report become
// window messages here.
#pragma once

namespace win32::detail {

// Hands the display layer the sink its back-ends report into. Made before
// every window is shown (a window's facts cannot come before it); calls
// after the first change nothing.
void ConnectDisplayInput();

}  // namespace win32::detail
