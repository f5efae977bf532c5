// Channel flags and the results of opening a device.
#pragma once

#include <cstdint>

namespace ChanConsts {

// A set of flag bits; bit 2 is not used here.
using ChanFlags = std::uint8_t;

inline constexpr ChanFlags readFlag = 1;
inline constexpr ChanFlags writeFlag = 2;
inline constexpr ChanFlags textFlag = 8;
inline constexpr ChanFlags rawFlag = 16;

using OpenResult = std::uint8_t;

inline constexpr OpenResult opened = 0;
inline constexpr OpenResult outOfChans = 4;  // no memory for the channel's records or name
inline constexpr OpenResult noMixedOperations = 12;

void BEGIN();

}  // namespace ChanConsts
