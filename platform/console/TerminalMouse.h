// The terminal's mouse reports as console mouse records. Terminals report in
// one of three forms, all with xterm's button codes: SGR (ESC [ < code ; column
// ; row M, m for a release), urxvt's (ESC [ code+32 ; column ; row M) and the
// X10/normal form (ESC [ M and three bytes, each value + 32, so no column or
// row beyond 223). The last two tell a release without its button.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/console/Console.h"

namespace win32::detail {

struct MouseReport {
  std::uint32_t code = 0;    // xterm's button code, without the forms' offset
  std::uint32_t column = 0;  // 1-based
  std::uint32_t row = 0;     // 1-based
  // SGR's m: the button of `code` went up. In the other forms a release is
  // button 3 and says nothing of which button.
  bool released = false;
  bool sgr = false;
};

// Keeps the buttons held between reports: a console record carries all of
// them, a terminal's report one.
class MouseReports {
 public:
  // Nothing for a report no console record has (a button beyond the fourth).
  std::optional<MOUSE_EVENT_RECORD> recordFor(const MouseReport& report);

 private:
  DWORD buttons_ = 0;
};

}  // namespace win32::detail
