// Display back-ends: where windows show their client surfaces and where
// input comes from. The window manager talks to one back-end through the
// Display interface; which one is chosen once, before the first window:
//   - Sdl (the default): a real window on the X server named by $DISPLAY.
//     SDL video lives on the first thread that creates a window, and only
//     that thread can have windows; its message loop waits in SDL_WaitEvent.
//     Without $DISPLAY, or when SDL cannot start, creating a window fails at
//     once. The screen size is 1024 x 768 until video has started.
//   - Memory: a virtual 1024 x 768 screen in memory, for tests. Nothing is
//     shown; the controls at the end of this file read the screen and play
//     the user (covering windows, close box, mouse and keys). Windows do not
//     hide each other there: each shows its whole client area.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/display/Surface.h"
#include "platform/kernel/WinTypes.h"

namespace win32::detail {

enum class DisplayKind { Sdl, Memory };

// Chooses the back-end. Takes effect only before the display is first used
// (first window, GetDC(NULL), screen metrics, message box); later calls
// change nothing and answer whether the kind asked for is the one in use.
bool SelectDisplay(DisplayKind kind);
DisplayKind SelectedDisplay();

// Where a new window goes: outer rectangle on the screen, client rectangle on
// the screen (inside the frame and caption), and its title.
struct WindowPlacement {
  RECT outer;
  RECT client;
  std::string title;
};

// One back-end. All calls are made by the window manager.
class Display {
 public:
  virtual ~Display() = default;

  // Shows a window on the calling thread (which owns it) and returns the
  // surface of its client area, or null when no window can be shown.
  virtual std::shared_ptr<Surface> openWindow(HWND window, const WindowPlacement& placement) = 0;
  virtual void closeWindow(HWND window) = 0;
  virtual void setTitle(HWND window, const std::string& title) = 0;

  // The whole screen as a surface (the screen DC draws on it) and its size.
  virtual std::shared_ptr<Surface> screen() = 0;
  virtual SIZE screenSize() = 0;

  // True when the calling thread's message loop must wait through the
  // display (it owns native windows whose events only it can read).
  virtual bool waitsForThread() = 0;
  // On such a thread: turns pending native events into messages without
  // waiting, or waits for the next native event or wake-up and handles it.
  virtual void pumpEvents() = 0;
  virtual void waitEvents() = 0;
  // From any thread: makes a waitEvents() of that thread return.
  virtual void wakeThread(DWORD threadId) = 0;

  // Shows a modal message dialog if the display can; false if it cannot.
  virtual bool showMessage(const std::string& caption, const std::string& text, bool error) = 0;
};

// The back-end chosen, created on first use.
Display& CurrentDisplay();
// The back-end if it has been used already, else null (does not choose).
Display* DisplayInUse();
// Display::wakeThread on the back-end if it is in use; nothing otherwise.
void WakeDisplayThread(DWORD threadId);

// What a back-end tells the window manager (defined by the window manager):
// input and close requests go to the window's thread queue as posted
// messages; exposure adds the area (client coordinates) to the update region.
void PostDisplayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void InvalidateFromDisplay(HWND window, const RECT& clientArea);

// ---- Controls of the memory display, for tests ----------------------------
// They act on windows of the memory display; other windows are ignored
// (reads answer an empty image).

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
// Mouse input at client position (x, y): message is WM_MOUSEMOVE,
// WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, ...; keys the MK_* flags.
void MemoryDisplayMouse(HWND window, UINT message, std::int32_t x, std::int32_t y, WPARAM keys);
// A key going down or up: message is WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or
// WM_SYSKEYUP; scanCode the PC set-1 code (0x1E for A), extended for the
// cursor block, right Ctrl, right Alt and the like.
void MemoryDisplayKey(HWND window, UINT message, std::uint8_t scanCode, bool extended);
// The window is activated (true) or deactivated (false): WM_ACTIVATE.
void MemoryDisplayActivate(HWND window, bool active);

}  // namespace win32::detail
