// Number-to-text conversion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Str {

void BEGIN();
// The value's digits in base 2 to 16 (bases outside are clamped), most
// significant first, NUL-terminated when there is room. With too small a
// capacity ok is FALSE and s holds the lowest-order digits that fit.
void CardToStr(std::uint32_t value, char* s, std::size_t capacity, std::uint32_t base, bool& ok);

}  // namespace Str
