#include "runtime/krBlockManager.h"

#include <bit>
#include <cstring>

#include "runtime/kosBalls.h"
#include "runtime/kosMalloc.h"

namespace krBlockManager {
namespace {

char* reservation = nullptr;
std::uint32_t blockBytes = 0;
// 1 = block in use. kept: 1 = block not in use but still committed.
std::uint32_t* inUseMap = nullptr;
std::uint32_t* keptMap = nullptr;
std::uint32_t hint = 0;
std::uint32_t keptCount = 0;

std::uint32_t* zeroedMap() {
  auto* map = static_cast<std::uint32_t*>(K2C_malloc(kMapWords * sizeof(std::uint32_t)));
  if (map != nullptr) std::memset(map, 0, kMapWords * sizeof(std::uint32_t));
  return map;
}

char* addressOf(std::uint32_t block) {
  return reservation + static_cast<std::size_t>(block) * blockBytes;
}

// A block is committed unless it was kept committed when it was released.
bool commit(std::uint32_t word, std::uint32_t bit) {
  const std::uint32_t mask = 1u << bit;
  if ((keptMap[word] & mask) != 0) {
    keptMap[word] &= ~mask;
    --keptCount;
    return true;
  }
  return K2C_allocBlock(addressOf(word * 32 + bit));
}

}  // namespace

bool init(std::uint32_t blockSize) {
  if (reservation != nullptr) return true;
  blockBytes = blockSize;
  inUseMap = zeroedMap();
  keptMap = zeroedMap();
  if (inUseMap == nullptr || keptMap == nullptr) return false;
  reservation = static_cast<char*>(K2C_initBalls(kBlockCount, blockSize));
  hint = 0;
  return reservation != nullptr;
}

void* alloc() {
  if (reservation == nullptr) return nullptr;
  std::uint32_t word = hint;
  while (word < kMapWords && inUseMap[word] == ~0u) ++word;
  if (word == kMapWords) return nullptr;  // every block is in use
  const auto bit = static_cast<std::uint32_t>(std::countr_one(inUseMap[word]));
  if (!commit(word, bit)) return nullptr;
  inUseMap[word] |= 1u << bit;
  hint = word;
  return addressOf(word * 32 + bit);
}

void free(void* address) {
  const std::int32_t block = blockIndex(address);
  if (block < 0) return;
  const std::uint32_t word = static_cast<std::uint32_t>(block) / 32;
  const std::uint32_t mask = 1u << (static_cast<std::uint32_t>(block) % 32);
  if ((inUseMap[word] & mask) == 0) return;
  inUseMap[word] &= ~mask;
  if (word < hint) hint = word;
  if (keptCount < kKeptCommitted) {
    keptMap[word] |= mask;
    ++keptCount;
  } else {
    K2C_freeBlock(address);
  }
}

std::uint32_t blocksInUse() {
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; inUseMap != nullptr && i < kMapWords; ++i) {
    count += static_cast<std::uint32_t>(std::popcount(inUseMap[i]));
  }
  return count;
}

std::uint32_t blocksKeptCommitted() {
  return keptCount;
}

std::int32_t blockIndex(const void* address) {
  const char* p = static_cast<const char*>(address);
  if (reservation == nullptr || p < reservation) return -1;
  const std::size_t offset = static_cast<std::size_t>(p - reservation);
  if (offset >= static_cast<std::size_t>(kBlockCount) * blockBytes) return -1;
  return static_cast<std::int32_t>(offset / blockBytes);
}

}  // namespace krBlockManager
