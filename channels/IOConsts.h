// Results of channel reads, looks and skips.
#pragma once

#include <cstdint>

namespace IOConsts {

using ReadResult = std::uint8_t;

inline constexpr ReadResult notKnown = 0;  // no read, look or skip yet
inline constexpr ReadResult allRight = 1;
inline constexpr ReadResult endOfLine = 4;  // the next character is a line end
inline constexpr ReadResult endOfInput = 5;

void BEGIN();

}  // namespace IOConsts
