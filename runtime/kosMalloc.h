// The private system heap: block memory of large objects and the run-time's
// own tables.
#pragma once

#include <cstddef>

// Creates the private heap (the process heap when that fails). Later calls
// keep the heap they find, so that every block goes back to the heap it came
// from even when a raised heap limit runs this again. The two parameters are
// not used.
void K2C_InitHeap(std::size_t, std::size_t);
void* K2C_malloc(std::size_t size);  // NIL when refused
// Takes the size the block was asked for with: a large block waits for the
// next request of about its size.
void K2C_free(void* p, std::size_t size);
std::size_t K2C_CachedBytes();  // for checks: released bytes kept for reuse
