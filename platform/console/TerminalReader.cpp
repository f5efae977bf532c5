#include "platform/console/TerminalReader.h"

namespace win32::detail {

// The terminal is not read yet: records come from WriteConsoleInputA only.
void StartTerminalReader(int) {}

}  // namespace win32::detail
