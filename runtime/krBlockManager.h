// The heap's 16 KB blocks inside one reservation, tracked by a bitmap.
#pragma once

#include <cstdint>

namespace krBlockManager {

// 2^29 bytes of 16 KB blocks, rounded up to a multiple of 32.
inline constexpr std::uint32_t kBlockCount = 32768;
inline constexpr std::uint32_t kMapWords = kBlockCount / 32;
// Empty blocks kept committed for the next request, so that a block that
// empties and fills again costs no system call; any more are decommitted.
inline constexpr std::uint32_t kKeptCommitted = 8;

// Reserves the address space and makes the bitmap on the first call; false
// when either is refused. Later calls keep both.
bool init(std::uint32_t blockSize);
void* alloc();  // NIL when every block is in use or the commit is refused
void free(void* address);

// For checks: the blocks in use, the blocks committed though not in use, and
// the index of the block holding an address (-1 outside the reservation).
std::uint32_t blocksInUse();
std::uint32_t blocksKeptCommitted();
std::int32_t blockIndex(const void* address);

}  // namespace krBlockManager
