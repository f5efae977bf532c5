#include "platform/kernel/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/kernel/ErrorsInternal.h"

namespace win32 {
namespace {

// A heap hands out malloc blocks and remembers them with their sizes, so that
// HeapDestroy can free everything and a maximum size can be enforced. The
// process heap is one of them that is never destroyed.
class Heap {
 public:
  explicit Heap(SIZE_T maximumSize) : maximumSize_(maximumSize) {}
  ~Heap() {
    for (auto& [block, size] : blocks_) std::free(block);
  }
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;

  LPVOID allocate(SIZE_T bytes, bool zero) {
    std::lock_guard lock(mutex_);
    if (maximumSize_ != 0 && bytes > maximumSize_ - std::min(used_, maximumSize_)) return nullptr;
    const SIZE_T size = bytes == 0 ? 1 : bytes;  // every allocation is a distinct block
    void* block = zero ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) return nullptr;
    blocks_.emplace(block, bytes);
    used_ += bytes;
    return block;
  }

  bool release(LPVOID block) {
    std::lock_guard lock(mutex_);
    auto found = blocks_.find(block);
    if (found == blocks_.end()) return false;
    used_ -= found->second;
    blocks_.erase(found);
    std::free(block);
    return true;
  }

 private:
  std::mutex mutex_;
  SIZE_T maximumSize_;
  SIZE_T used_ = 0;
  std::unordered_map<void*, SIZE_T> blocks_;
};

Heap* processHeap() {
  static Heap* heap = new Heap(0);
  return heap;
}

// Heap handles are the heaps' addresses; only those made here are accepted.
std::mutex heapsMutex;
std::unordered_map<HANDLE, Heap*>& heaps() {
  static auto* table = new std::unordered_map<HANDLE, Heap*>{{processHeap(), processHeap()}};
  return *table;
}

Heap* findHeap(HANDLE handle) {
  std::lock_guard lock(heapsMutex);
  auto found = heaps().find(handle);
  return found == heaps().end() ? nullptr : found->second;
}

// Reservations, by base address and size: VirtualFree(MEM_RELEASE) takes the
// base only, and commits must fall inside a reservation.
std::mutex reservationsMutex;
std::map<char*, SIZE_T>& reservations() {
  static auto* table = new std::map<char*, SIZE_T>;
  return *table;
}

SIZE_T pageSize() {
  static const SIZE_T size = static_cast<SIZE_T>(::sysconf(_SC_PAGESIZE));
  return size;
}

int protectionFlags(DWORD protect) {
  switch (protect) {
    case PAGE_NOACCESS:
      return PROT_NONE;
    case PAGE_READONLY:
      return PROT_READ;
    case PAGE_READWRITE:
      return PROT_READ | PROT_WRITE;
    default:
      return -1;
  }
}

// The page-aligned range [first, last) covering [address, address + size).
struct PageRange {
  char* first;
  char* last;
};
PageRange pagesOf(LPVOID address, SIZE_T size) {
  const auto begin = reinterpret_cast<UINT_PTR>(address);
  const UINT_PTR mask = pageSize() - 1;
  return {reinterpret_cast<char*>(begin & ~mask),
          reinterpret_cast<char*>((begin + size + mask) & ~mask)};
}

bool insideReservation(const PageRange& range) {
  std::lock_guard lock(reservationsMutex);
  auto after = reservations().upper_bound(range.first);
  if (after == reservations().begin()) return false;
  auto owner = std::prev(after);
  return range.last <= owner->first + owner->second;
}

LPVOID fail(DWORD code) {
  SetLastError(code);
  return nullptr;
}

// Reservations start on multiples of 64 KiB, Windows' allocation
// granularity: callers find a region's base by masking an address.
constexpr SIZE_T kAllocationGranularity = 64 * 1024;

// Maps `length` bytes at a granularity boundary: a larger mapping, with the
// pages before the boundary and after the end given back.
char* mapAligned(SIZE_T length, int protection) {
  const SIZE_T slack = kAllocationGranularity - pageSize();
  if (length > SIZE_MAX - slack) return nullptr;
  void* mapped = ::mmap(nullptr, length + slack, protection,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  char* first = static_cast<char*>(mapped);
  const auto address = reinterpret_cast<UINT_PTR>(first);
  const UINT_PTR mask = kAllocationGranularity - 1;
  char* base = reinterpret_cast<char*>((address + mask) & ~mask);
  const SIZE_T head = static_cast<SIZE_T>(base - first);
  if (head > 0) ::munmap(first, head);
  if (slack > head) ::munmap(base + length, slack - head);
  return base;
}

LPVOID reserve(SIZE_T size, int protection) {
  const PageRange range = pagesOf(nullptr, size);
  const SIZE_T length = static_cast<SIZE_T>(range.last - range.first);
  if (length < size) return fail(ERROR_NOT_ENOUGH_MEMORY);  // the rounding wrapped around
  char* base = mapAligned(length, protection);
  if (base == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
  std::lock_guard lock(reservationsMutex);
  reservations().emplace(base, length);
  return base;
}

// Committing makes pages accessible; pages never touched (or decommitted,
// which replaces them) read as zero, as committed memory does on Windows.
LPVOID commit(LPVOID address, SIZE_T size, int protection) {
  const PageRange range = pagesOf(address, size);
  if (!insideReservation(range)) return fail(ERROR_INVALID_ADDRESS);
  if (::mprotect(range.first, static_cast<SIZE_T>(range.last - range.first), protection) != 0) {
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  return range.first;
}

BOOL decommit(LPVOID address, SIZE_T size) {
  const PageRange range = pagesOf(address, size);
  if (size == 0 || !insideReservation(range)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  void* replaced = ::mmap(range.first, static_cast<SIZE_T>(range.last - range.first), PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
  if (replaced == MAP_FAILED) {
    detail::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL release(LPVOID address, SIZE_T size) {
  std::lock_guard lock(reservationsMutex);
  auto found = reservations().find(static_cast<char*>(address));
  if (size != 0 || found == reservations().end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ::munmap(found->first, found->second);
  reservations().erase(found);
  return TRUE;
}

}  // namespace

HANDLE GetProcessHeap() {
  return processHeap();
}

HANDLE HeapCreate(DWORD /*options*/, SIZE_T /*initialSize*/, SIZE_T maximumSize) {
  auto* heap = new Heap(maximumSize);
  std::lock_guard lock(heapsMutex);
  heaps().emplace(heap, heap);
  return heap;
}

BOOL HeapDestroy(HANDLE handle) {
  Heap* heap = nullptr;
  {
    std::lock_guard lock(heapsMutex);
    auto found = heaps().find(handle);
    if (found != heaps().end() && found->second != processHeap()) {
      heap = found->second;
      heaps().erase(found);
    }
  }
  if (heap == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete heap;
  return TRUE;
}

// HEAP_GENERATE_EXCEPTIONS cannot raise a structured exception here; a failed
// allocation returns NULL with ERROR_NOT_ENOUGH_MEMORY either way.
LPVOID HeapAlloc(HANDLE handle, DWORD flags, SIZE_T bytes) {
  Heap* heap = findHeap(handle);
  if (heap == nullptr) return fail(ERROR_INVALID_HANDLE);
  LPVOID block = heap->allocate(bytes, (flags & HEAP_ZERO_MEMORY) != 0);
  if (block == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

BOOL HeapFree(HANDLE handle, DWORD /*flags*/, LPVOID memory) {
  if (memory == nullptr) return TRUE;
  Heap* heap = findHeap(handle);
  if (heap == nullptr || !heap->release(memory)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
  const int protection = protectionFlags(protect);
  const bool reserves = (allocationType & MEM_RESERVE) != 0;
  const bool commits = (allocationType & MEM_COMMIT) != 0;
  if (protection < 0 || size == 0 || (!reserves && !commits)) return fail(ERROR_INVALID_PARAMETER);
  if (address == nullptr) return reserve(size, commits ? protection : PROT_NONE);
  if (reserves) return fail(ERROR_INVALID_ADDRESS);  // reserving at a chosen address: not offered
  return commit(address, size, protection);
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
  if (freeType == MEM_DECOMMIT) return decommit(address, size);
  if (freeType == MEM_RELEASE) return release(address, size);
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace win32
