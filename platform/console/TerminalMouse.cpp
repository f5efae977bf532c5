#include "platform/console/TerminalMouse.h"

namespace win32::detail {
namespace {

// xterm's button codes: the low two bits name the button (3: none, or a
// release in the forms without SGR), then Shift, Alt, Ctrl, motion; the wheel
// bit marks buttons 4-7 (up, down, left, right) and the extra bit buttons
// 8-11 (8 and 9 are back and forward).
constexpr std::uint32_t kButtonBits = 0x03;
constexpr std::uint32_t kShift = 0x04;
constexpr std::uint32_t kAlt = 0x08;
constexpr std::uint32_t kCtrl = 0x10;
constexpr std::uint32_t kMotion = 0x20;
constexpr std::uint32_t kWheel = 0x40;
constexpr std::uint32_t kExtra = 0x80;
constexpr std::uint32_t kNoButton = 3;
// No terminal is wider or taller; a larger mouse cell is taken as this one.
constexpr std::uint32_t kLargestCell = 4095;
constexpr WORD kWheelStep = 120;

DWORD buttonFlag(std::uint32_t code) {
  static constexpr DWORD kMain[] = {FROM_LEFT_1ST_BUTTON_PRESSED, FROM_LEFT_2ND_BUTTON_PRESSED,
                                    RIGHTMOST_BUTTON_PRESSED, 0};
  // Back and forward; buttons 10 and 11 have no console flag.
  static constexpr DWORD kExtraButtons[] = {FROM_LEFT_3RD_BUTTON_PRESSED,
                                            FROM_LEFT_4TH_BUTTON_PRESSED, 0, 0};
  return ((code & kExtra) != 0 ? kExtraButtons : kMain)[code & kButtonBits];
}

SHORT cell(std::uint32_t oneBased) {
  if (oneBased < 1) return 0;
  return static_cast<SHORT>((oneBased > kLargestCell ? kLargestCell : oneBased) - 1);
}

DWORD controlState(std::uint32_t code) {
  DWORD state = 0;
  if ((code & kShift) != 0) state |= SHIFT_PRESSED;
  if ((code & kAlt) != 0) state |= LEFT_ALT_PRESSED;
  if ((code & kCtrl) != 0) state |= LEFT_CTRL_PRESSED;
  return state;
}

// Up and right turn forward (a positive delta), down and left back.
DWORD wheelTurn(std::uint32_t button) {
  const bool forward = button == 0 || button == 3;
  const WORD delta = forward ? kWheelStep : static_cast<WORD>(-kWheelStep);
  return static_cast<DWORD>(delta) << 16;
}

}  // namespace

std::optional<MOUSE_EVENT_RECORD> MouseReports::recordFor(const MouseReport& report) {
  MOUSE_EVENT_RECORD mouse{};
  mouse.dwMousePosition = {cell(report.column), cell(report.row)};
  mouse.dwControlKeyState = controlState(report.code);
  const std::uint32_t button = report.code & kButtonBits;
  if ((report.code & kWheel) != 0 && (report.code & kExtra) != 0) return std::nullopt;  // past 11
  if ((report.code & kWheel) != 0) {
    if (report.released) return std::nullopt;  // SGR reports no wheel release; none is due
    mouse.dwButtonState = buttons_ | wheelTurn(button);
    mouse.dwEventFlags = button < 2 ? MOUSE_WHEELED : MOUSE_HWHEELED;
    return mouse;
  }
  const bool moved = (report.code & kMotion) != 0;
  const bool releaseOfAny = !report.sgr && !moved && button == kNoButton && report.code < kExtra;
  if (releaseOfAny) {
    buttons_ = 0;
  } else if (!moved || button != kNoButton) {
    const DWORD flag = buttonFlag(report.code);
    if (flag == 0 && !moved) return std::nullopt;
    if (report.released) {
      buttons_ &= ~flag;
    } else {
      buttons_ |= flag;
    }
  }
  mouse.dwButtonState = buttons_;
  mouse.dwEventFlags = moved && !report.released ? MOUSE_MOVED : 0;
  return mouse;
}

}  // namespace win32::detail
