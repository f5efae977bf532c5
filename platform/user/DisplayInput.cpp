// The one place where the display back-ends' raw input facts become window
// messages: WM_* numbers, MK_* flags and key lParams, from the button and key
// state kept here.
#include <mutex>
#include <set>

#include "platform/display/Display.h"
#include "platform/keys/KeyCodes.h"
#include "platform/user/MessageQueue.h"
#include "platform/user/User.h"

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

}  // namespace

void ReportMouseMove(HWND window, std::int32_t x, std::int32_t y) {
  WPARAM keys = 0;
  {
    InputState& state = inputState();
    std::lock_guard guard(state.lock);
    keys = state.buttons | modifierFlags(state);
  }
  PostDisplayMessage(window, WM_MOUSEMOVE, keys, pointParam(x, y));
}

void ReportMouseButton(HWND window, MouseButton button, bool down, std::int32_t x, std::int32_t y) {
  const ButtonMessages messages = messagesOf(button);
  WPARAM keys = 0;
  {
    InputState& state = inputState();
    std::lock_guard guard(state.lock);
    state.buttons = down ? (state.buttons | messages.flag) : (state.buttons & ~messages.flag);
    keys = state.buttons | modifierFlags(state);
  }
  PostDisplayMessage(window, down ? messages.down : messages.up, keys, pointParam(x, y));
}

void ReportKey(HWND window, const KeyFact& key) {
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

void ReportFocus(HWND window, bool gained) {
  if (!gained) {
    // Keys released while another window has the focus are never reported:
    // forget them, so no modifier sticks.
    InputState& state = inputState();
    std::lock_guard guard(state.lock);
    state.keysDown.clear();
  }
  PostDisplayMessage(window, WM_ACTIVATE, gained ? WA_ACTIVE : WA_INACTIVE, 0);
}

void ReportClose(HWND window) {
  PostDisplayMessage(window, WM_CLOSE, 0, 0);
}

}  // namespace win32::detail
