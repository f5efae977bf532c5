#include "input/MsMouse.h"

#include <atomic>
#include <mutex>

#include "graph/ktsIGraph.h"
#include "input/ktsEvQue.h"
#include "platform/Win32.h"
#include "runtime/ModuleInit.h"

namespace MsMouse {
namespace {

// buttonState uses the layout of the key-state word of the window's mouse
// messages.
constexpr std::uint32_t kLeft = win32::MK_LBUTTON;
constexpr std::uint32_t kRight = win32::MK_RBUTTON;
constexpr std::uint32_t kMiddle = win32::MK_MBUTTON;

// The console mouse event's buttons.
constexpr std::uint8_t kEventLeft = win32::FROM_LEFT_1ST_BUTTON_PRESSED;
constexpr std::uint8_t kEventRight = win32::RIGHTMOST_BUTTON_PRESSED;
constexpr std::uint8_t kEventMiddle = win32::FROM_LEFT_2ND_BUTTON_PRESSED;

// The pointer as last seen. The window's server thread and the event queue's
// reader change it under stateLock; GetStatus reads it without the lock, one
// value after the other.
struct MouseState {
  std::mutex stateLock;
  std::atomic<std::uint32_t> buttonState{0};
  std::atomic<std::uint32_t> posX{0};
  std::atomic<std::uint32_t> posY{0};
};

// Never destroyed: the hook and the handler run on threads that outlive
// static destructors.
MouseState& mouse() {
  static MouseState* state = new MouseState;
  return *state;
}

bool initialised = false;

bool isMouseMessage(std::uint32_t message) {
  return message >= win32::WM_MOUSEMOVE && message <= win32::WM_MBUTTONDBLCLK;
}

std::int32_t windowMouseHook(win32::HWND, std::uint32_t message, std::uint32_t wParam,
                             std::int32_t lParam) {
  if (!ktsIGraph::fGrMode.load() || !isMouseMessage(message)) return 0;
  MouseState& state = mouse();
  std::lock_guard guard(state.stateLock);
  // Both halves unsigned: positions are never negative.
  const std::uint32_t x = static_cast<std::uint32_t>(lParam) & 0xFFFF;
  const std::uint32_t y = static_cast<std::uint32_t>(lParam) >> 16;
  // A move to where the pointer already is changes nothing, not even the
  // buttons.
  if (message == win32::WM_MOUSEMOVE && x == state.posX.load() && y == state.posY.load()) return 0;
  state.posX.store(x);
  state.posY.store(y);
  state.buttonState.store(wParam);
  return 0;
}

bool consoleMouseHandler(ktsEvQue::MouseEvent& ev) {
  if (ktsIGraph::fGrMode.load()) return false;
  std::uint32_t buttons = 0;
  if ((ev.buttons & kEventLeft) != 0) buttons |= kLeft;
  if ((ev.buttons & kEventRight) != 0) buttons |= kRight;
  if ((ev.buttons & kEventMiddle) != 0) buttons |= kMiddle;
  MouseState& state = mouse();
  std::lock_guard guard(state.stateLock);
  state.posX.store(static_cast<std::uint32_t>(ev.x));
  state.posY.store(static_cast<std::uint32_t>(ev.y));
  state.buttonState.store(buttons);
  return true;
}

}  // namespace

void InitMouse() {}

void GetStatus(MsData& d) {
  const MouseState& state = mouse();
  d.row = static_cast<std::int32_t>(state.posY.load());
  d.col = static_cast<std::int32_t>(state.posX.load());
  const std::uint32_t buttons = state.buttonState.load();
  d.left_pressed = (buttons & kLeft) != 0;
  d.right_pressed = (buttons & kRight) != 0;
  d.middle_pressed = (buttons & kMiddle) != 0;
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  ktsEvQue::BEGIN();
  ktsIGraph::BEGIN();
  ktsIGraph::proc = windowMouseHook;
  ktsEvQue::AddMouseHandler(consoleMouseHandler);
}

}  // namespace MsMouse
