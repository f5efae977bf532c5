// The plain heap behind the allocation interface, until the block allocator
// with its limits takes its place.
#include "runtime/Storage.h"

#include <atomic>
#include <cstdlib>

#include "platform/kernel/Memory.h"
#include "runtime/ModuleInit.h"

namespace {

std::atomic<bool> heapExhausted{false};
bool storageInitialised = false;

void* processHeapZeroed(std::uint32_t size) {
  if (heapExhausted.load()) return nullptr;
  return win32::HeapAlloc(win32::GetProcessHeap(), win32::HEAP_ZERO_MEMORY, size);
}

}  // namespace

void K2C_ALLOCATE(void*& p, std::uint32_t size) {
  p = nullptr;
  if (size == 0 || heapExhausted.load()) return;
  p = std::malloc(size);
}

void K2C_DEALLOCATE(void*& p) {
  std::free(p);
  p = nullptr;
}

void* K2C_AllocMem(std::uint32_t size) {
  return processHeapZeroed(size);
}

void* K2C_gmalloc(std::uint32_t size) {
  return processHeapZeroed(size);
}

void K2C_SimulateHeapExhaustion(bool on) {
  heapExhausted.store(on);
}

namespace Storage {

void BEGIN() {
  if (!K2C_EnterBody(storageInitialised)) return;
}

void ALLOCATE(void*& p, std::uint32_t size) {
  K2C_ALLOCATE(p, size);
}

void DEALLOCATE(void*& p, std::uint32_t /*size*/) {
  K2C_DEALLOCATE(p);
}

}  // namespace Storage
