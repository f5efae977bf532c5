#include "runtime/kosMem.h"

#include <atomic>

#include "runtime/kosFileIO.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Memory.h"
#include "runtime/krExceptions.h"

std::atomic<bool> K2C_heapExhausted{false};

namespace {

void* processHeapZeroed(std::size_t size) {
  if (K2C_heapExhausted.load(std::memory_order_relaxed)) return nullptr;
  return win32::HeapAlloc(win32::GetProcessHeap(), win32::HEAP_ZERO_MEMORY, size);
}

}  // namespace

void* K2C_AllocMem(std::uint32_t size) {
  return processHeapZeroed(size);
}

void* K2C_gmalloc(std::uint32_t size) {
  return processHeapZeroed(size);
}

// Start-up may not have chosen the report's stream yet: it is the standard
// error stream, as start-up chooses.
void* K2C_StartupAlloc(std::size_t size) {
  void* p = processHeapZeroed(size);
  if (p != nullptr) return p;
  K2C_StdOutInit(win32::GetStdHandle(win32::STD_ERROR_HANDLE));
  K2C_TRAP_F(K2C_TRAP_NR_HEAP);
}

void K2C_SimulateHeapExhaustion(bool on) {
  K2C_heapExhausted.store(on);
}
