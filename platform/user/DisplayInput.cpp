// The one place where the display back-ends' raw input facts become window
// messages: WM_* numbers, MK_* flags and key lParams, from the button and key
// state kept here.
#include "platform/user/DisplayInput.h"

#include <mutex>
#include <optional>
#include <set>

#include "platform/display/Display.h"
#include "platform/keys/KeyCodes.h"
#include "platform/user/MessageQueue.h"
#include "platform/user/Painting.h"
#include "platform/kernel/Threads.h"
#include "platform/user/User.h"
#include "platform/user/WindowTable.h"

namespace win32::detail {
namespace {

constexpr std::uint8_t kAltScan = 0x38;
constexpr std::uint8_t kCtrlScan = 0x1D;
constexpr std::uint8_t kLeftShiftScan = 0x2A;
constexpr std::uint8_t kRightShiftScan = 0x36;
constexpr WPARAM kVirtualKeyF10 = 0x79;

using KeyId = std::uint16_t;  // scan code | extended << 8

constexpr KeyId keyId(std::uint8_t scan, bool extended) {
  return static_cast<KeyId>(scan | (extended ? 0x100 : 0));
}

// One keyboard and one mouse for every window. Reports come from each
// back-end's input thread (the video thread, or a test's thread).
struct InputState {
  std::mutex lock;
  WPARAM buttons = 0;        // MK_LBUTTON, MK_RBUTTON, MK_MBUTTON
  std::set<KeyId> keysDown;  // as the reports left them
  HWND capture = nullptr;    // SetCapture's window, which gets all mouse input
};

InputState& inputState() {
  static InputState* state = new InputState;  // used by threads that outlive exit
  return *state;
}

// Under the state's lock.
bool isDown(const InputState& state, std::uint8_t scan) {
  return state.keysDown.count(keyId(scan, false)) != 0 || state.keysDown.count(keyId(scan, true));
}

WPARAM modifierFlags(const InputState& state) {
  WPARAM flags = 0;
  if (isDown(state, kLeftShiftScan) || isDown(state, kRightShiftScan)) flags |= MK_SHIFT;
  if (isDown(state, kCtrlScan)) flags |= MK_CONTROL;
  return flags;
}

LPARAM pointParam(std::int32_t x, std::int32_t y) {
  return static_cast<LPARAM>((static_cast<std::uint32_t>(x) & 0xFFFF) |
                             ((static_cast<std::uint32_t>(y) & 0xFFFF) << 16));
}

struct ButtonMessages {
  WPARAM flag;
  UINT down;
  UINT up;
};

ButtonMessages messagesOf(MouseButton button) {
  switch (button) {
    case MouseButton::Right:
      return {MK_RBUTTON, WM_RBUTTONDOWN, WM_RBUTTONUP};
    case MouseButton::Middle:
      return {MK_MBUTTON, WM_MBUTTONDOWN, WM_MBUTTONUP};
    case MouseButton::Left:
    default:
      return {MK_LBUTTON, WM_LBUTTONDOWN, WM_LBUTTONUP};
  }
}

HWND captureWindow() {
  InputState& state = inputState();
  std::lock_guard guard(state.lock);
  return state.capture;
}

// Where a mouse fact goes: to the window that has the capture (its position
// moved into that window's client area), else to the window under the
// pointer, and there only while the pointer is over its client area. The
// back-ends report the pointer outside too while a button is held (the
// display's own grab); the mouse is not captured unless asked for.
struct MouseTarget {
  HWND window = nullptr;
  std::int32_t x = 0;
  std::int32_t y = 0;
};

std::optional<MouseTarget> mouseTarget(HWND window, std::int32_t x, std::int32_t y) {
  auto reported = LookupWindow(window);
  if (!reported) return std::nullopt;
  HWND capture = captureWindow();
  if (capture != nullptr) {
    if (auto captured = LookupWindow(capture)) {
      const std::int64_t capturedX =
          std::int64_t{x} + reported->client.left - captured->client.left;
      const std::int64_t capturedY = std::int64_t{y} + reported->client.top - captured->client.top;
      return MouseTarget{capture, static_cast<std::int32_t>(capturedX),
                         static_cast<std::int32_t>(capturedY)};
    }
  }
  const RECT client = ClientRectOf(*reported);
  if (x < client.left || x >= client.right || y < client.top || y >= client.bottom) {
    return std::nullopt;
  }
  return MouseTarget{window, x, y};
}

// The window manager's side of the display's input sink.
class WindowInput final : public InputSink {
 public:
  void mouseMove(HWND window, std::int32_t x, std::int32_t y) override;
  void mouseButton(HWND window, MouseButton button, bool down, std::int32_t x,
                   std::int32_t y) override;
  void key(HWND window, const KeyFact& key) override;
  void focus(HWND window, bool gained) override;
  void close(HWND window) override;
  void exposure(HWND window, const RECT& clientArea) override {
    InvalidateExposedArea(window, clientArea);
  }
};

}  // namespace

void ConnectDisplayInput() {
  static WindowInput* input = new WindowInput;  // the back-ends' threads outlive exit
  SetInputSink(*input);
}

void WindowInput::mouseMove(HWND window, std::int32_t x, std::int32_t y) {
  WPARAM keys = 0;
  {
    InputState& state = inputState();
    std::lock_guard guard(state.lock);
    keys = state.buttons | modifierFlags(state);
  }
  if (auto target = mouseTarget(window, x, y)) {
    PostDisplayMessage(target->window, WM_MOUSEMOVE, keys, pointParam(target->x, target->y));
  }
}

// The button's state changes wherever the pointer is; the message goes only
// where mouseTarget says.
void WindowInput::mouseButton(HWND window, MouseButton button, bool down, std::int32_t x,
                              std::int32_t y) {
  const ButtonMessages messages = messagesOf(button);
  WPARAM keys = 0;
  {
    InputState& state = inputState();
    std::lock_guard guard(state.lock);
    state.buttons = down ? (state.buttons | messages.flag) : (state.buttons & ~messages.flag);
    keys = state.buttons | modifierFlags(state);
  }
  if (auto target = mouseTarget(window, x, y)) {
    PostDisplayMessage(target->window, down ? messages.down : messages.up, keys,
                       pointParam(target->x, target->y));
  }
}

void WindowInput::key(HWND window, const KeyFact& key) {
  const KeyId id = keyId(key.scan, key.extended);
  bool wasDown = key.repeat;
  bool altHeld = false;
  bool ctrlHeld = false;
  {
    InputState& state = inputState();
    std::lock_guard guard(state.lock);
    wasDown = wasDown || state.keysDown.count(id) != 0;
    if (key.down) {
      state.keysDown.insert(id);
    } else {
      state.keysDown.erase(id);
    }
    altHeld = key.scan == kAltScan || isDown(state, kAltScan);
    ctrlHeld = isDown(state, kCtrlScan);
  }
  WPARAM virtualKey = VirtualKeyFromScanCode(key.scan, key.extended);
  if (!key.numLock) virtualKey = KeypadKeyWithoutNumLock(static_cast<std::uint8_t>(virtualKey));
  // As on Windows: keys with Alt (but not AltGr's Ctrl+Alt) and F10 are
  // system keys.
  const bool system = (altHeld && !ctrlHeld) || virtualKey == kVirtualKeyF10;
  const UINT message =
      system ? (key.down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (key.down ? WM_KEYDOWN : WM_KEYUP);
  PostDisplayMessage(window, message, virtualKey,
                     KeyMessageLParam(key.scan, key.extended, key.down, wasDown, altHeld));
}

void WindowInput::focus(HWND window, bool gained) {
  if (!gained) {
    // Keys released while another window has the focus are never reported:
    // forget them, so no modifier sticks.
    InputState& state = inputState();
    std::lock_guard guard(state.lock);
    state.keysDown.clear();
  }
  PostDisplayMessage(window, WM_ACTIVATE, gained ? WA_ACTIVE : WA_INACTIVE, 0);
}

void WindowInput::close(HWND window) {
  PostDisplayMessage(window, WM_CLOSE, 0, 0);
}

}  // namespace win32::detail

namespace win32 {

// One capture for the whole display, as there is one mouse.
HWND SetCapture(HWND window) {
  if (!detail::LookupWindow(window)) return nullptr;
  detail::InputState& state = detail::inputState();
  std::lock_guard guard(state.lock);
  HWND previous = state.capture;
  state.capture = window;
  return previous != nullptr && IsWindow(previous) ? previous : nullptr;
}

BOOL ReleaseCapture() {
  detail::InputState& state = detail::inputState();
  std::lock_guard guard(state.lock);
  state.capture = nullptr;
  return TRUE;
}

// Only a window of the calling thread is reported.
HWND GetCapture() {
  HWND capture = detail::captureWindow();
  if (capture == nullptr || !IsWindow(capture)) return nullptr;
  return GetWindowThreadProcessId(capture, nullptr) == GetCurrentThreadId() ? capture : nullptr;
}

}  // namespace win32
