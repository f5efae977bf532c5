// The run-time's allocation interface on top of the heap.
#pragma once

#include <cstdint>

// p := a new object of at least size bytes (contents not cleared, 8-byte
// aligned), or NIL when size is 0 or the heap can't serve it.
void K2C_ALLOCATE(void*& p, std::uint32_t size);
// Releases an object and sets p to NIL; NIL does nothing. Assertion 100 when
// the header names no type descriptor, 101 when a large object's block is not
// the heap's.
void K2C_DEALLOCATE(void*& p);

// A dynamic array's descriptor: the data pointer, then for each dimension from
// the innermost outwards its length, followed (except for the outermost) by
// the bytes one step of the next dimension outwards covers.
struct K2C_DynArray {
  void* data;
  std::uint32_t words[1];  // 2 × dimensions words
};
// a := a descriptor with its data (elementSize × all lengths bytes), or NIL
// when either can't be had or the size does not fit in 32 bits.
void K2C_DYNALLOCATE(K2C_DynArray*& a, std::uint32_t elementSize, const std::uint32_t* lengths,
                     std::uint32_t dimensions);
