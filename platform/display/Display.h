// Display back-ends: where windows show their client surfaces and where
// input comes from. The window manager talks to one back-end through the
// Display interface; which one is chosen once, before the first window
// (DisplayTesting.h, for tests; the program always has Sdl):
//   - Sdl (the default): a real window on the X server named by $DISPLAY.
//     SDL video lives on the first thread that creates a window, and only
//     that thread can have windows; its message loop waits in SDL_WaitEvent.
//     Without $DISPLAY, or when SDL cannot start, creating a window fails at
//     once. The screen size is 1024 x 768 until video has started.
//   - Memory: a virtual 1024 x 768 screen in memory, for tests. Nothing is
//     shown; the controls in MemoryDisplay.h read the screen and play the
//     user (covering windows, close box, mouse and keys). Windows do not
//     hide each other there: each shows its whole client area.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/display/Surface.h"
#include "platform/kernel/WinTypes.h"

namespace win32::detail {

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

  // Why the last window could not be shown (the failing step and the native
  // reason), cleared by the call; empty when nothing failed since.
  virtual std::string takeFailure() { return {}; }
};

// The back-end chosen, created on first use.
Display& CurrentDisplay();
// The back-end if it has been used already, else null (does not choose).
Display* DisplayInUse();
// Display::wakeThread on the back-end if it is in use; nothing otherwise.
void WakeDisplayThread(DWORD threadId);

// A square-wave tone of the frequency for the duration through the SDL
// back-end's audio (whichever back-end shows the windows); returns after the
// duration, or false at once where no audio device opens.
bool PlayTone(DWORD frequency, DWORD duration);

// ---- What a back-end reports -------------------------------------------------
// Back-ends report raw facts about their windows; the window manager
// (platform/user/DisplayInput.cpp) makes the messages from them, once, with
// the button and key state it keeps (WM_* numbers, MK_* flags, key lParams),
// so every back-end delivers the same messages for the same facts.
// Positions are client coordinates. Facts about unknown windows are dropped.
//
// The window manager sits above this layer: it hands its sink down with
// SetInputSink before it opens its first window, and the Report* calls
// below pass each fact to it. Until then a fact is dropped, as there is no
// window it could be about.

enum class MouseButton : std::uint8_t { Left, Right, Middle };

struct KeyFact {
  std::uint8_t scan = 0;  // PC set-1 make code (0x1E for A)
  bool extended = false;  // sent with the E0 prefix (cursor block, right Ctrl/Alt, ...)
  bool down = false;
  bool repeat = false;  // the back-end knows the key is held and repeating
  bool numLock = true;  // with NumLock off the keypad keys move the cursor
};

class InputSink {
 public:
  virtual ~InputSink() = default;
  virtual void mouseMove(HWND window, std::int32_t x, std::int32_t y) = 0;
  virtual void mouseButton(HWND window, MouseButton button, bool down, std::int32_t x,
                           std::int32_t y) = 0;
  virtual void key(HWND window, const KeyFact& key) = 0;
  virtual void focus(HWND window, bool gained) = 0;
  virtual void close(HWND window) = 0;
  virtual void exposure(HWND window, const RECT& clientArea) = 0;
};

// From any thread; the sink must live until the process ends. Installing
// the same sink again changes nothing.
void SetInputSink(InputSink& sink);

// Called by the back-ends on their input thread (the video thread, or a
// test's thread).
void ReportMouseMove(HWND window, std::int32_t x, std::int32_t y);
void ReportMouseButton(HWND window, MouseButton button, bool down, std::int32_t x, std::int32_t y);
void ReportKey(HWND window, const KeyFact& key);
// The window gained or lost the keyboard focus.
void ReportFocus(HWND window, bool gained);
// The user asked to close the window (its close box).
void ReportClose(HWND window);
// The area became visible again and must be painted.
void ReportExposure(HWND window, const RECT& clientArea);

}  // namespace win32::detail
