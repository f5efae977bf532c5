#include "runtime/krM2MM.h"

#include <cstddef>

#include "runtime/kosMem.h"
#include "runtime/krMM.h"

// newObject yields NIL for size 0 (an object of the header alone).
void K2C_ALLOCATE(void*& p, std::uint32_t size) {
  if (K2C_HeapExhaustionSimulated()) {
    p = nullptr;
    return;
  }
  krMM::newObject(p, krMM::objectSize(size));
}

void K2C_DEALLOCATE(void*& p) {
  krMM::releaseObject(p);
}

// lengths[0] is the outermost dimension; the descriptor counts from the inside.
void K2C_DYNALLOCATE(K2C_DynArray*& a, std::uint32_t elementSize, const std::uint32_t* lengths,
                     std::uint32_t dimensions) {
  a = nullptr;
  std::uint64_t bytes = elementSize;
  for (std::uint32_t i = 0; i < dimensions && bytes <= 0xFFFFFFFF; ++i) bytes *= lengths[i];
  if (bytes > 0xFFFFFFFF) return;
  void* block = nullptr;
  K2C_ALLOCATE(block, 8 * dimensions + 8);
  if (block == nullptr) return;
  auto* descriptor = static_cast<K2C_DynArray*>(block);
  std::uint32_t* words = descriptor->words;
  std::uint32_t step = elementSize;
  for (std::uint32_t j = 0; j < dimensions; ++j) {
    const std::uint32_t length = lengths[dimensions - 1 - j];
    words[2 * j] = length;
    step *= length;
    if (j + 1 < dimensions) words[2 * j + 1] = step;
  }
  K2C_ALLOCATE(descriptor->data, static_cast<std::uint32_t>(bytes));
  if (descriptor->data == nullptr) {
    K2C_DEALLOCATE(block);
    return;
  }
  a = descriptor;
}
