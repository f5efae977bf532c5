#include "runtime/kosBalls.h"

#include <cstddef>

#include "platform/kernel/Memory.h"

namespace {

std::size_t blockSize = 0;

}  // namespace

// The reservation takes one block more than asked for, so that the blocks can
// start at a multiple of the block size whatever alignment the system gives.
void* K2C_initBalls(std::uint32_t count, std::uint32_t size) {
  blockSize = size;
  const std::size_t bytes = (static_cast<std::size_t>(count) + 1) * size;
  void* base = win32::VirtualAlloc(nullptr, bytes, win32::MEM_RESERVE, win32::PAGE_NOACCESS);
  if (base == nullptr) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(base);
  const std::uintptr_t aligned = (address + size - 1) & ~static_cast<std::uintptr_t>(size - 1);
  return reinterpret_cast<void*>(aligned);
}

bool K2C_allocBlock(void* address) {
  return win32::VirtualAlloc(address, blockSize, win32::MEM_COMMIT, win32::PAGE_READWRITE) !=
         nullptr;
}

void K2C_freeBlock(void* address) {
  win32::VirtualFree(address, blockSize, win32::MEM_DECOMMIT);
}
