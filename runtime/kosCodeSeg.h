// The sections of a loaded executable, from its section table.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

namespace kosCodeSeg {

// The loaded section of module that holds address: its first and last byte
// and its index in the section table (from 0). end is 0 when no section holds
// the address or the table can't be read.
void calcCodeExtent(win32::HMODULE module, const void* address, std::uintptr_t& start,
                    std::uintptr_t& end, std::uint32_t& section);

}  // namespace kosCodeSeg
