// Update regions, WM_PAINT and window DCs.
#pragma once

#include <optional>

#include "platform/kernel/WinTypes.h"
#include "platform/user/MessageQueue.h"

namespace win32::detail {

// WM_PAINT for the first window of the calling thread (top first) that is
// invalid and passes the filter. Painting removes the cause, so the message
// itself is never queued.
std::optional<MSG> NextPaintMessage(const MessageFilter& filter);

// Fills the update area with the class background brush (WM_ERASEBKGND in
// DefWindowProcA); false when the class has none.
bool EraseBackground(HWND window, HDC dc);

// The display showed the area of the window again: it must be painted.
void InvalidateExposedArea(HWND window, const RECT& clientArea);

}  // namespace win32::detail
