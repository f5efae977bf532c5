// For tests and benchmarks: the display back-end to use instead of SDL.
#pragma once

namespace win32::detail {

enum class DisplayKind { Sdl, Memory };

// Chooses the back-end. Takes effect only before the display is first used
// (first window, GetDC(NULL), screen metrics, message box); later calls
// change nothing and answer whether the kind asked for is the one in use.
bool SelectDisplay(DisplayKind kind);
DisplayKind SelectedDisplay();

}  // namespace win32::detail
