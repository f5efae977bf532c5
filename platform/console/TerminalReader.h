// The console host's reader of the terminal: a thread that decodes the
// terminal's bytes into input records for the input buffer, and hands the
// replies to the host's own queries to whoever asked.
#pragma once

#include <optional>
#include <string>

#include "platform/console/Console.h"

namespace win32::detail {

// Takes the terminal over (TerminalState.h) and starts reading it, once per
// process; later calls do nothing. The console input mode's processed and
// mouse input then apply to the terminal.
void StartTerminalReader(int terminal);
bool TerminalReaderRunning();

// Empties the input buffer together with what the terminal holds and the
// reader has read but not yet decoded: a flush of console input also drops
// the keys typed before the program first read.
void DiscardTerminalInput();

// Asks the terminal where its cursor is (ESC [ 6 n) and waits at most
// `milliseconds` for the reply, which never reaches the input buffer.
// Nothing when no reader runs or no reply came in time.
std::optional<COORD> QueryCursorPosition(int milliseconds);

// Asks the terminal for its window title (xterm's ESC [ 21 t, which many
// terminals leave unanswered or answer empty) and returns at once: nothing
// waits for the reply, which `ReportedTerminalTitle` gives once it came.
// Nothing is asked when no reader runs.
void AskTerminalTitle();
std::optional<std::string> ReportedTerminalTitle();

}  // namespace win32::detail
