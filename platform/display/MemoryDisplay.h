// The in-memory display: a virtual screen that windows show on, and the
// controls tests use to read the screen and to play the user. The controls
// act on windows of the memory display; other windows are ignored (reads
// answer an empty image). Input goes through the same reports as a real
// display's (Display.h), so the messages are the ones a real window gets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/display/Display.h"

namespace win32::detail {

std::unique_ptr<Display> MakeMemoryDisplay();

struct ScreenImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> pixels;  // row-major, 0x00RRGGBB
  std::uint32_t at(std::int32_t x, std::int32_t y) const {
    return pixels[static_cast<std::size_t>(y) * width + x];
  }
};

// Colour of the screen where another (imaginary) window covers it.
inline constexpr std::uint32_t kCoverColour = 0x00C0C0C0u;

// The client area of the window as the screen shows it now.
ScreenImage MemoryDisplayClientPixels(HWND window);
// The whole virtual screen.
ScreenImage MemoryDisplayScreenPixels();
// Another window covers the area (client coordinates): the screen there
// shows kCoverColour and the window's pixels there are lost.
void MemoryDisplayCover(HWND window, const RECT& clientArea);
// Everything that covered the window goes away: the uncovered area keeps the
// covering colour until the window repaints it, and the window gets WM_PAINT
// for exactly that area.
void MemoryDisplayUncover(HWND window);
// The user clicks the close box: the window gets WM_CLOSE.
void MemoryDisplayCloseRequest(HWND window);
// The pointer moves to client position (x, y).
void MemoryDisplayMouseMove(HWND window, std::int32_t x, std::int32_t y);
// A button goes down or up at client position (x, y).
void MemoryDisplayMouseButton(HWND window, MouseButton button, bool down, std::int32_t x,
                              std::int32_t y);
// A key goes down (again, if it is held) or up: scanCode is the PC set-1
// code (0x1E for A), extended for the cursor block, right Ctrl, right Alt
// and the like. NumLock is on.
void MemoryDisplayKey(HWND window, std::uint8_t scanCode, bool extended, bool down);
// The window gains (true) or loses (false) the focus: WM_ACTIVATE.
void MemoryDisplayActivate(HWND window, bool active);
// The message dialogs shown so far, in order, each with the thread that
// showed it (a real display shows them only on the thread of its windows).
struct ShownMessage {
  std::string caption;
  std::string text;
  DWORD threadId;
};
std::vector<ShownMessage> MemoryDisplayMessages();

}  // namespace win32::detail
