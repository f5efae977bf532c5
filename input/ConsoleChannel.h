// The console input channel of the event queue: a channel on the standard
// input handle whose reads run a one-line editor fed from the key queue. The
// editor draws the line straight into the console screen buffer; every line
// it hands out ends in CR LF.
#pragma once

#include <cstdint>

namespace ktsEvQue {

// Makes the channel and installs it as the current input channel; on any
// failure the input channel stays as it was.
void installConsoleChannel();

namespace detail {

// Edits one line into buffer (size at least 3) and returns the number of
// characters stored: the line and its CR LF. 0 when keys can no longer be
// read.
std::uint32_t editLine(char* buffer, std::uint32_t size);

}  // namespace detail

}  // namespace ktsEvQue
