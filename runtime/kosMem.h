// Zero-filled run-time records from the process heap, which live until the
// process ends (finaliser nodes, code-section nodes).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

void* K2C_AllocMem(std::uint32_t size);  // NIL when refused
void* K2C_gmalloc(std::uint32_t size);   // NIL when refused

// A start-up allocation from the process heap that cannot go on without its
// memory: when refused, the run-time reports trap 18 ("out of heap space") and
// ends the program instead of handing back NIL.
void* K2C_StartupAlloc(std::size_t size);

// While on, every K2C_ALLOCATE and K2C_AllocMem yields NIL, as an exhausted
// heap does. For tests of the exhausted-heap paths.
void K2C_SimulateHeapExhaustion(bool on);
extern std::atomic<bool> K2C_heapExhausted;
inline bool K2C_HeapExhaustionSimulated() {
  return K2C_heapExhausted.load(std::memory_order_relaxed);
}
