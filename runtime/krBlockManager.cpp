#include "runtime/krBlockManager.h"

#include <bit>
#include <cstring>

#include "runtime/kosBalls.h"
#include "runtime/kosMalloc.h"

namespace krBlockManager {
namespace {

char* reservation = nullptr;
std::uint32_t blockShift = 0;  // the block size is a power of 2
// 1 = block in use.
std::uint32_t* inUseMap = nullptr;
std::uint32_t hint = 0;
std::uint32_t inUseCount = 0;
// 1 = bitmap word all ones: the first word from the hint with a clear bit is
// then a mask and a bit scan per 64 words, at most 16 steps instead of a step
// per full word.
constexpr std::uint32_t kSummaryWords = kMapWords / 64;
std::uint64_t fullWords[kSummaryWords];
// 1 = block committed; those not in use are the kept ones.
std::uint32_t committedMap[kMapWords];
std::uint32_t keptCount = 0;
std::uint32_t highestWordCommitted = 0;
// A block released while it would be the one handed out next, and keeping it
// committed decommits nothing, waits with its bit still set: the next
// request is given that block with no bitmap work, as the release and the
// search would have left it. Anything else finishes the release first.
// -1: none waits.
std::int32_t waiting = -1;
GiveBack giveBack = nullptr;

std::uint32_t* zeroedMap() {
  auto* map = static_cast<std::uint32_t*>(K2C_malloc(kMapWords * sizeof(std::uint32_t)));
  if (map != nullptr) std::memset(map, 0, kMapWords * sizeof(std::uint32_t));
  return map;
}

char* addressOf(std::uint32_t block) {
  return reservation + (static_cast<std::size_t>(block) << blockShift);
}

std::uint32_t bitOf(std::uint32_t block) {
  return 1u << (block % 32);
}

std::uint32_t keptLimit() {
  const std::uint32_t half = inUseCount / 2;
  return half < kMinKept ? kMinKept : half > kMaxKept ? kMaxKept : half;
}

void decommit(std::uint32_t block) {
  committedMap[block / 32] &= ~bitOf(block);
  K2C_freeBlock(addressOf(block));
}

// The highest kept block goes first: the kept blocks stay the lowest ones
// not in use, so that the block handed out next is a kept one while any is.
void decommitHighestKept() {
  for (std::uint32_t word = highestWordCommitted + 1; word-- > 0;) {
    const std::uint32_t kept = committedMap[word] & ~inUseMap[word];
    if (kept == 0) continue;
    decommit(word * 32 + 31 - static_cast<std::uint32_t>(std::countl_zero(kept)));
    --keptCount;
    while (highestWordCommitted > 0 && committedMap[highestWordCommitted] == 0) {
      --highestWordCommitted;
    }
    return;
  }
}

// A heap that shrank gives back its highest empty blocks as it releases.
void keep() {
  ++keptCount;
  while (keptCount > keptLimit()) decommitHighestKept();
}

// The first bitmap word from `word` on with a clear bit; kMapWords when none.
std::uint32_t firstNotFullFrom(std::uint32_t word) {
  std::uint32_t at = word / 64;
  std::uint64_t open = ~fullWords[at] & (~std::uint64_t{0} << (word % 64));
  while (open == 0) {
    if (++at == kSummaryWords) return kMapWords;
    open = ~fullWords[at];
  }
  return at * 64 + static_cast<std::uint32_t>(std::countr_zero(open));
}

void markFullness(std::uint32_t word) {
  const std::uint64_t bit = std::uint64_t{1} << (word % 64);
  fullWords[word / 64] =
      (fullWords[word / 64] & ~bit) | ((0 - std::uint64_t{inUseMap[word] == ~0u}) & bit);
}

// The lowest block not in use from the hint on, committed; -1 when there is
// none or the commit is refused.
std::int32_t takeLowest() {
  const std::uint32_t word = firstNotFullFrom(hint);
  if (word == kMapWords) return -1;  // every block is in use
  const auto bit = static_cast<std::uint32_t>(std::countr_one(inUseMap[word]));
  const std::uint32_t block = word * 32 + bit;
  if ((committedMap[word] & bitOf(block)) != 0) {
    --keptCount;
  } else {
    if (!K2C_allocBlock(addressOf(block))) return -1;
    committedMap[word] |= bitOf(block);
    if (word > highestWordCommitted) highestWordCommitted = word;
  }
  inUseMap[word] |= bitOf(block);
  markFullness(word);
  ++inUseCount;
  hint = word;
  return static_cast<std::int32_t>(block);
}

void finishRelease(std::uint32_t block) {
  const std::uint32_t word = block / 32;
  inUseMap[word] &= ~bitOf(block);
  fullWords[word / 64] &= ~(std::uint64_t{1} << (word % 64));
  --inUseCount;
  if (word < hint) hint = word;
  keep();
}

void settle() {
  if (waiting < 0) return;
  const auto block = static_cast<std::uint32_t>(waiting);
  waiting = -1;
  finishRelease(block);
}

// The counts with every release finished, the user's kept block's too.
void settleAll() {
  if (giveBack != nullptr) giveBack();
  settle();
}

// Every block below is in use: the search from the hint would stop here.
bool isLowestFree(std::uint32_t block) {
  const std::uint32_t word = block / 32;
  if (hint < word && firstNotFullFrom(hint) < word) return false;
  const std::uint32_t below = bitOf(block) - 1;
  return (inUseMap[word] & below) == below;
}

// Keeping one more block committed beside one fewer in use stays in the limit.
bool releaseKeepsAll() {
  const std::uint32_t half = (inUseCount - 1) / 2;
  const std::uint32_t limit = half < kMinKept ? kMinKept : half > kMaxKept ? kMaxKept : half;
  return keptCount + 1 <= limit;
}

}  // namespace

bool init(std::uint32_t blockSize) {
  if (reservation != nullptr) return true;
  if (!std::has_single_bit(blockSize)) return false;
  blockShift = static_cast<std::uint32_t>(std::countr_zero(blockSize));
  inUseMap = zeroedMap();
  if (inUseMap == nullptr) return false;
  for (auto& w : fullWords) w = 0;
  reservation = static_cast<char*>(K2C_initBalls(kBlockCount, blockSize));
  hint = 0;
  return reservation != nullptr;
}

void* alloc() {
  if (reservation == nullptr) return nullptr;
  if (waiting >= 0) {  // still the lowest: nothing has changed since its release
    const auto block = static_cast<std::uint32_t>(waiting);
    waiting = -1;
    hint = block / 32;
    return addressOf(block);
  }
  const std::int32_t block = takeLowest();
  if (block < 0) return nullptr;
  return addressOf(static_cast<std::uint32_t>(block));
}

void free(void* address) {
  const std::int32_t block = blockIndex(address);
  if (block < 0) return;
  const std::uint32_t word = static_cast<std::uint32_t>(block) / 32;
  const std::uint32_t mask = bitOf(static_cast<std::uint32_t>(block));
  if ((inUseMap[word] & mask) == 0 || block == waiting) return;
  settle();
  if (releaseKeepsAll() && isLowestFree(static_cast<std::uint32_t>(block))) {
    waiting = block;
    return;
  }
  finishRelease(static_cast<std::uint32_t>(block));
}

void setGiveBack(GiveBack hook) {
  giveBack = hook;
}

std::uint32_t blocksInUse() {
  settleAll();
  return inUseCount;
}

std::uint32_t blocksMarkedInUse() {
  settleAll();
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; inUseMap != nullptr && i < kMapWords; ++i) {
    count += static_cast<std::uint32_t>(std::popcount(inUseMap[i]));
  }
  return count;
}

std::uint32_t blocksKeptCommitted() {
  settleAll();
  return keptCount;
}

std::int32_t blockIndex(const void* address) {
  const char* p = static_cast<const char*>(address);
  if (reservation == nullptr || p < reservation) return -1;
  const std::size_t offset = static_cast<std::size_t>(p - reservation);
  if ((offset >> blockShift) >= kBlockCount) return -1;
  return static_cast<std::int32_t>(offset >> blockShift);
}

}  // namespace krBlockManager
