// Storage.ALLOCATE: the heap for every module that allocates.
#pragma once

#include <cstdint>

#include "runtime/kosMem.h"
#include "runtime/krM2MM.h"

namespace Storage {
void BEGIN();
void ALLOCATE(void*& p, std::uint32_t size);
void DEALLOCATE(void*& p, std::uint32_t size);
}  // namespace Storage
