// Storage.ALLOCATE and the run-time's allocation interface. For now a plain
// heap; the block allocator with its limits replaces it.
#pragma once

#include <cstdint>

void K2C_ALLOCATE(void*& p, std::uint32_t size);  // NIL (nullptr) when exhausted or size 0
void K2C_DEALLOCATE(void*& p);                    // sets p to NIL
// Zero-filled records that live until the process ends (process heap).
void* K2C_AllocMem(std::uint32_t size);
void* K2C_gmalloc(std::uint32_t size);

// While on, every K2C_ALLOCATE and K2C_AllocMem yields NIL, as an exhausted
// heap does. For tests of the exhausted-heap paths.
void K2C_SimulateHeapExhaustion(bool on);

namespace Storage {
void BEGIN();
void ALLOCATE(void*& p, std::uint32_t size);
void DEALLOCATE(void*& p, std::uint32_t size);
}  // namespace Storage
