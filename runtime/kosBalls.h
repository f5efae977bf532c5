// Address space for the heap's blocks: one reservation without access, whose
// blocks are committed and decommitted one at a time.
#pragma once

#include <cstdint>

// Reserves count × size bytes, aligned to size (a power of two); the base, or
// NIL when the reservation is refused.
void* K2C_initBalls(std::uint32_t count, std::uint32_t size);
bool K2C_allocBlock(void* address);  // commits one block (read-write, zeroed)
void K2C_freeBlock(void* address);   // decommits one block
