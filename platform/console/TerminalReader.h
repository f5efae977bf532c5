// The console host's reader of the terminal: a thread that decodes the
// terminal's bytes into input records for the input buffer, and hands the
// replies to the host's own queries to whoever asked.
#pragma once

#include <optional>

#include "platform/console/Console.h"

namespace win32::detail {

// Takes the terminal over (TerminalState.h) and starts reading it, once per
// process; later calls do nothing. The console input mode's processed and
// mouse input then apply to the terminal.
void StartTerminalReader(int terminal);
bool TerminalReaderRunning();

// Asks the terminal where its cursor is (ESC [ 6 n) and waits at most
// `milliseconds` for the reply, which never reaches the input buffer.
// Nothing when no reader runs or no reply came in time.
std::optional<COORD> QueryCursorPosition(int milliseconds);

}  // namespace win32::detail
