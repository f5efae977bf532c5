#include "runtime/kosMalloc.h"

#include <bit>
#include <cstdint>
#include <iterator>

#include "platform/kernel/Memory.h"

namespace {

constexpr std::size_t kInitialSize = 4096;

win32::HANDLE privateHeap = nullptr;

// Released large blocks wait in lists by size, rounded up to 4 KB, and serve
// the next request of their size without a call to the system heap: a heap
// whose large objects come and go then costs the system nothing per object.
// Their memory is not counted as in use (K2C_busymem), as a decommitted
// 16 KB block's isn't; together they hold at most a quarter of the bytes of
// the large blocks in use, and at least kMinCachedBytes.
constexpr std::size_t kCachedFrom = 12 * 1024 + 1;
constexpr std::size_t kCacheStep = 4096;
constexpr std::size_t kCacheClasses = 256;  // up to 1 MB
constexpr std::size_t kMinCachedBytes = std::size_t{1} << 20;

struct CachedBlock {
  CachedBlock* next;
};
CachedBlock* cached[kCacheClasses];
std::uint64_t classesHolding[kCacheClasses / 64];  // a bit for every non-empty list
std::size_t cachedBytes = 0;
std::size_t largeBytesInUse = 0;

bool isCachedSize(std::size_t size) {
  return size >= kCachedFrom && size <= kCacheClasses * kCacheStep;
}

std::size_t classOf(std::size_t size) {
  return (size - 1) / kCacheStep;
}

std::size_t classBytes(std::size_t cls) {
  return (cls + 1) * kCacheStep;
}

std::size_t cacheLimit() {
  const std::size_t quarter = largeBytesInUse / 4;
  return quarter < kMinCachedBytes ? kMinCachedBytes : quarter;
}

void push(std::size_t cls, void* p) {
  auto* block = static_cast<CachedBlock*>(p);
  block->next = cached[cls];
  cached[cls] = block;
  classesHolding[cls / 64] |= std::uint64_t{1} << (cls % 64);
  cachedBytes += classBytes(cls);
}

CachedBlock* pop(std::size_t cls) {
  CachedBlock* block = cached[cls];
  if (block == nullptr) return nullptr;
  cached[cls] = block->next;
  if (cached[cls] == nullptr) classesHolding[cls / 64] &= ~(std::uint64_t{1} << (cls % 64));
  cachedBytes -= classBytes(cls);
  return block;
}

// The largest class holding blocks other than cls; kCacheClasses when none.
std::size_t largestOtherClass(std::size_t cls) {
  for (std::size_t w = std::size(classesHolding); w-- > 0;) {
    std::uint64_t bits = classesHolding[w];
    if (w == cls / 64) bits &= ~(std::uint64_t{1} << (cls % 64));
    if (bits != 0) return w * 64 + 63 - static_cast<std::size_t>(std::countl_zero(bits));
  }
  return kCacheClasses;
}

void* takeCached(std::size_t size) {
  const std::size_t cls = classOf(size);
  void* block = pop(cls);
  if (block == nullptr) block = win32::HeapAlloc(privateHeap, 0, classBytes(cls));
  if (block == nullptr) return nullptr;
  largeBytesInUse += classBytes(cls);
  return block;
}

// Blocks of other sizes make room for the one released last, so that a
// heap whose large objects change size is served from the cache again; a
// heap that shrank gives back what its smaller share no longer holds.
void giveCached(void* p, std::size_t size) {
  const std::size_t cls = classOf(size);
  largeBytesInUse -= classBytes(cls);
  push(cls, p);
  while (cachedBytes > cacheLimit()) {
    const std::size_t other = largestOtherClass(cls);
    win32::HeapFree(privateHeap, 0, pop(other == kCacheClasses ? cls : other));
  }
}

}  // namespace

void K2C_InitHeap(std::size_t, std::size_t) {
  if (privateHeap != nullptr) return;
  privateHeap = win32::HeapCreate(win32::HEAP_GROWABLE, kInitialSize, 0);
  if (privateHeap == nullptr) privateHeap = win32::GetProcessHeap();
}

void* K2C_malloc(std::size_t size) {
  if (privateHeap == nullptr) K2C_InitHeap(0, 0);
  if (isCachedSize(size)) return takeCached(size);
  return win32::HeapAlloc(privateHeap, 0, size);
}

void K2C_free(void* p, std::size_t size) {
  if (p != nullptr && isCachedSize(size)) {
    giveCached(p, size);
    return;
  }
  win32::HeapFree(privateHeap, 0, p);
}

std::size_t K2C_CachedBytes() {
  return cachedBytes;
}
