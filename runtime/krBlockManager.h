// The heap's 16 KB blocks inside one reservation, tracked by a bitmap.
#pragma once

#include <cstdint>

namespace krBlockManager {

// 2^29 bytes of 16 KB blocks, rounded up to a multiple of 32.
inline constexpr std::uint32_t kBlockCount = 32768;
inline constexpr std::uint32_t kMapWords = kBlockCount / 32;
// Empty blocks stay committed, so that a heap whose objects come and go costs
// no system call per block: at most half as many as are in use (at least
// kMinKept); any more are decommitted. They take no part in the order: the
// lowest block not in use is handed out, committed already or not.
inline constexpr std::uint32_t kMinKept = 16;
inline constexpr std::uint32_t kMaxKept = 1024;

// Reserves the address space and makes the bitmap on the first call; false
// when either is refused or the size is no power of 2. Later calls keep both.
bool init(std::uint32_t blockSize);
void* alloc();  // NIL when every block is in use or the commit is refused
void free(void* address);

// A user that keeps a released block back (it takes that block again with
// its next request, which the manager would hand it next) names here how to
// give it back: the counts below are read after it. NIL: none.
using GiveBack = void (*)();
void setGiveBack(GiveBack hook);

// For checks: the blocks in use, the blocks committed though not in use, and
// the index of the block holding an address (-1 outside the reservation).
std::uint32_t blocksInUse();
std::uint32_t blocksMarkedInUse();  // counted in the bitmap
std::uint32_t blocksKeptCommitted();
std::int32_t blockIndex(const void* address);

}  // namespace krBlockManager
