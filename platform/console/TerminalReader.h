// The console host's reader of the terminal: a thread that decodes the
// terminal's bytes into input records for the input buffer.
#pragma once

namespace win32::detail {

// Starts reading the terminal on the descriptor, once per process; later
// calls do nothing.
void StartTerminalReader(int terminal);

}  // namespace win32::detail
