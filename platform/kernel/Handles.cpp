#include "platform/kernel/HandlesInternal.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>

#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ThreadsInternal.h"

namespace win32 {

namespace detail {

// One entry of the handle table. Its state word:
//   bits 0-29  pins: lookups in progress (PinnedObject), stale ones included
//   bits 30-31 phase
//   bits 32-63 generation
// changes only by atomic read-modify-write, so a pin is never lost:
//
//   Free --insert (table lock)--> Live --CloseHandle, no pins--> Free
//                                  |                              ^
//                                  +--CloseHandle, pins--> Closing --last unpin--+
//
// Whoever moves the slot back to Free (the closer, or the thread whose unpin
// ends the last pin of a closed slot) raises the generation, takes the
// object out and gives the slot back. `object` is written only by the
// inserter (while the slot is Free, which no lookup reads) and by that one
// releaser; a lookup reads it only while its pin holds the slot Live.
struct HandleSlot {
  std::atomic<std::uint64_t> state{0};
  KernelObjectPtr object;
  std::uint32_t index = 0;
  std::uint32_t nextFree = 0;  // under the table lock: the next free slot's index + 1
};

}  // namespace detail

namespace {

using detail::HandleSlot;
using detail::KernelObjectPtr;

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

constexpr std::uint64_t kPinMask = (std::uint64_t{1} << 30) - 1;
constexpr unsigned kPhaseShift = 30;
constexpr std::uint64_t kPhaseMask = std::uint64_t{3} << kPhaseShift;
constexpr std::uint64_t kLive = std::uint64_t{1} << kPhaseShift;
constexpr std::uint64_t kClosing = std::uint64_t{2} << kPhaseShift;
constexpr unsigned kGenerationShift = 32;

constexpr std::uint32_t generationOf(std::uint64_t state) {
  return static_cast<std::uint32_t>(state >> kGenerationShift);
}

// Back to Free, with the next generation and the pins it still has.
constexpr std::uint64_t freed(std::uint64_t state) {
  return (std::uint64_t{generationOf(state) + 1u} << kGenerationShift) | (state & kPinMask);
}

// A handle's value names its slot and the slot's generation when it was
// made: generation << 23 | (index + 1) << 2. So values are multiples of 4
// from 4 up, as on Windows (never null, never a pseudo-handle), and a closed
// handle stays invalid when its slot is used again.
constexpr unsigned kIndexShift = 2;
constexpr unsigned kHandleGenerationShift = 23;
constexpr std::uint32_t kPageSlots = 1024;
constexpr std::uint32_t kPages = 1024;  // 2^20 handles open at once
constexpr std::uint32_t kSlots = kPages * kPageSlots;

struct Name {
  std::uint32_t index;
  std::uint32_t generation;
};

bool decode(HANDLE handle, Name& name) {
  const auto value = reinterpret_cast<UINT_PTR>(handle);
  const auto number = static_cast<std::uint32_t>((value >> kIndexShift) & (2 * kSlots - 1));
  if ((value & 3) != 0 || number == 0 || number > kSlots) return false;
  if ((value >> kHandleGenerationShift) > UINT32_MAX) return false;
  name = {number - 1, static_cast<std::uint32_t>(value >> kHandleGenerationShift)};
  return true;
}

HANDLE encode(std::uint32_t index, std::uint32_t generation) {
  const UINT_PTR value =
      (UINT_PTR{generation} << kHandleGenerationShift) | (UINT_PTR{index + 1} << kIndexShift);
  return reinterpret_cast<HANDLE>(value);
}

// Lookups take no lock: a slot is found through pages that, once made,
// stay for the life of the process, and is held by its pin count. Inserts
// and the return of slots take the table lock.
class HandleTable {
 public:
  HANDLE insert(KernelObjectPtr object) {
    std::lock_guard lock(mutex_);
    std::uint32_t index = 0;
    if (!takeSlot(index)) return nullptr;
    HandleSlot& slot = slotAt(index);
    slot.object = std::move(object);
    // Free to Live; stale lookups may hold pins here, which stay counted.
    const std::uint64_t before = slot.state.fetch_add(kLive, std::memory_order_release);
    return encode(index, generationOf(before));
  }

  // The slot of an open handle, pinned; null when the handle is not open.
  HandleSlot* pin(HANDLE handle) {
    Name name{};
    HandleSlot* slot = find(handle, name);
    if (slot == nullptr) return nullptr;
    const std::uint64_t before = slot->state.fetch_add(1, std::memory_order_acquire);
    if ((before & kPhaseMask) == kLive && generationOf(before) == name.generation) {
      return slot;
    }
    unpin(*slot);
    return nullptr;
  }

  // An unpin that leaves a closed slot without pins claims its release. A
  // pin taken and dropped before the claim makes another such unpin; only
  // one claim can move the slot on from the state both saw.
  void unpin(HandleSlot& slot) {
    const std::uint64_t before = slot.state.fetch_sub(1, std::memory_order_acq_rel);
    if ((before & kPinMask) == 1 && (before & kPhaseMask) == kClosing) claim(slot, before - 1);
  }

  // FALSE when the handle is not open (never opened, or closed already).
  bool close(HANDLE handle) {
    Name name{};
    HandleSlot* slot = find(handle, name);
    if (slot == nullptr) return false;
    std::uint64_t state = slot->state.load(std::memory_order_relaxed);
    for (;;) {
      if ((state & kPhaseMask) != kLive || generationOf(state) != name.generation) {
        return false;
      }
      const bool unpinned = (state & kPinMask) == 0;
      const std::uint64_t next = unpinned ? freed(state) : (state & ~kPhaseMask) | kClosing;
      if (slot->state.compare_exchange_weak(state, next, std::memory_order_acq_rel,
                                            std::memory_order_relaxed)) {
        if (unpinned) release(*slot);
        return true;
      }
    }
  }

 private:
  // The slot a handle names (open or not), and the name itself.
  HandleSlot* find(HANDLE handle, Name& name) {
    if (!decode(handle, name)) return nullptr;
    HandleSlot* page = pages_[name.index / kPageSlots].load(std::memory_order_acquire);
    return page == nullptr ? nullptr : &page[name.index % kPageSlots];
  }

  HandleSlot& slotAt(std::uint32_t index) {
    return pages_[index / kPageSlots].load(std::memory_order_relaxed)[index % kPageSlots];
  }

  [[gnu::noinline, gnu::cold]] void claim(HandleSlot& slot, std::uint64_t unpinned) {
    if (slot.state.compare_exchange_strong(unpinned, freed(unpinned), std::memory_order_acq_rel,
                                           std::memory_order_relaxed)) {
      release(slot);
    }
  }

  // Under the lock: the slot given back last, else the next one never used.
  [[gnu::noinline]] bool takeSlot(std::uint32_t& index) {
    if (freeHead_ != 0) {
      index = freeHead_ - 1;
      freeHead_ = slotAt(index).nextFree;
      return true;
    }
    if (used_ == kSlots) return false;
    std::atomic<HandleSlot*>& page = pages_[used_ / kPageSlots];
    if (page.load(std::memory_order_relaxed) == nullptr) {
      auto* slots = new HandleSlot[kPageSlots];
      for (std::uint32_t i = 0; i < kPageSlots; ++i) slots[i].index = used_ + i;
      page.store(slots, std::memory_order_release);
    }
    index = used_++;
    return true;
  }

  // The object leaves the slot before the slot is given back, and is
  // released outside the lock: its destructor may close descriptors or take
  // other locks.
  [[gnu::noinline, gnu::cold]] void release(HandleSlot& slot) {
    KernelObjectPtr object = std::move(slot.object);
    std::lock_guard lock(mutex_);
    slot.nextFree = freeHead_;
    freeHead_ = slot.index + 1;
  }

  std::mutex mutex_;
  std::atomic<HandleSlot*> pages_[kPages] = {};
  std::uint32_t used_ = 0;
  std::uint32_t freeHead_ = 0;  // the first free slot's index + 1
};

// Made before any code runs and never destroyed: handles are used from
// static constructors and by threads that end while the process exits.
static_assert(std::is_trivially_destructible_v<HandleTable>);
constinit HandleTable handleTable;

HandleTable& table() {
  return handleTable;
}

bool isPseudoHandle(HANDLE handle) {
  return handle == kCurrentProcess || handle == kCurrentThread;
}

}  // namespace

BOOL CloseHandle(HANDLE handle) {
  if (isPseudoHandle(handle)) return TRUE;
  if (!table().close(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                     DWORD /*access*/, BOOL /*inherit*/, DWORD options) {
  if (sourceProcess != kCurrentProcess || targetProcess != kCurrentProcess || target == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  KernelObjectPtr object =
      source == kCurrentThread ? detail::CurrentThreadObject() : detail::LookupObject(source);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HANDLE duplicate = detail::InsertObject(std::move(object));
  if (duplicate == nullptr) return FALSE;
  *target = duplicate;
  if ((options & DUPLICATE_CLOSE_SOURCE) != 0) CloseHandle(source);
  return TRUE;
}

HANDLE GetCurrentProcess() {
  return kCurrentProcess;
}

namespace detail {

HANDLE InsertObject(KernelObjectPtr object) {
  HANDLE handle = table().insert(std::move(object));
  if (handle == nullptr) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return handle;
}

KernelObjectPtr LookupObject(HANDLE handle) {
  PinnedObject pinned(handle);
  return pinned.slot_ == nullptr ? nullptr : pinned.slot_->object;
}

PinnedObject::PinnedObject(HANDLE handle)
    : slot_(isPseudoHandle(handle) ? nullptr : table().pin(handle)) {
  if (slot_ == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return;
  }
  object_ = slot_->object.get();
}

PinnedObject::~PinnedObject() {
  if (slot_ != nullptr) table().unpin(*slot_);
}

}  // namespace detail
}  // namespace win32
