#include "platform/kernel/HandlesInternal.h"

#include <mutex>
#include <unordered_map>

#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ThreadsInternal.h"

namespace win32 {
namespace {

using detail::KernelObjectPtr;

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

// Handle values are multiples of 4 from 4 up, as on Windows, so they are never
// null and never collide with the pseudo-handles (-1, -2).
class HandleTable {
 public:
  HANDLE insert(KernelObjectPtr object) {
    std::lock_guard lock(mutex_);
    nextValue_ += 4;
    objects_.emplace(nextValue_, std::move(object));
    return reinterpret_cast<HANDLE>(nextValue_);
  }

  KernelObjectPtr lookup(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(reinterpret_cast<UINT_PTR>(handle));
    return found == objects_.end() ? nullptr : found->second;
  }

  // The object leaves the table under the lock but is released outside it:
  // its destructor may close descriptors or take other locks.
  KernelObjectPtr remove(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(reinterpret_cast<UINT_PTR>(handle));
    if (found == objects_.end()) return nullptr;
    KernelObjectPtr object = std::move(found->second);
    objects_.erase(found);
    return object;
  }

 private:
  std::mutex mutex_;
  UINT_PTR nextValue_ = 0;
  std::unordered_map<UINT_PTR, KernelObjectPtr> objects_;
};

HandleTable& table() {
  static HandleTable* instance = new HandleTable;  // lives past every static destructor
  return *instance;
}

bool isPseudoHandle(HANDLE handle) {
  return handle == kCurrentProcess || handle == kCurrentThread;
}

}  // namespace

BOOL CloseHandle(HANDLE handle) {
  if (isPseudoHandle(handle)) return TRUE;
  if (table().remove(handle) == nullptr) {
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
  *target = detail::InsertObject(std::move(object));
  if ((options & DUPLICATE_CLOSE_SOURCE) != 0) CloseHandle(source);
  return TRUE;
}

HANDLE GetCurrentProcess() {
  return kCurrentProcess;
}

namespace detail {

HANDLE InsertObject(KernelObjectPtr object) {
  return table().insert(std::move(object));
}

KernelObjectPtr LookupObject(HANDLE handle) {
  KernelObjectPtr object = isPseudoHandle(handle) ? nullptr : table().lookup(handle);
  if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

}  // namespace detail
}  // namespace win32
