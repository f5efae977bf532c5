// Beep: a square-wave tone through the display back-end's audio, or the
// terminal bell where no audio device opens; either way it returns after the
// tone's duration. It lives here because it uses both the display and the
// console host.
#include "platform/console/Console.h"
#include "platform/console/TerminalState.h"
#include "platform/display/Display.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/Sync.h"

namespace win32 {
namespace {

constexpr DWORD kLowestFrequency = 37;  // the range a console beep accepts
constexpr DWORD kHighestFrequency = 32767;

}  // namespace

BOOL Beep(DWORD frequency, DWORD duration) {
  if (frequency < kLowestFrequency || frequency > kHighestFrequency) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!detail::PlayTone(frequency, duration)) {
    detail::WriteToTerminal("\a", 1);
    Sleep(duration);
  }
  return TRUE;
}

}  // namespace win32
