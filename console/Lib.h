// The general library: delays.
#pragma once

#include <cstdint>

namespace Lib {

void BEGIN();
void Delay(std::uint32_t milliseconds);

}  // namespace Lib
