#include "runtime/kosMalloc.h"

#include "platform/kernel/Memory.h"

namespace {

constexpr std::size_t kInitialSize = 4096;

win32::HANDLE privateHeap = nullptr;

}  // namespace

void K2C_InitHeap(std::size_t, std::size_t) {
  if (privateHeap != nullptr) return;
  privateHeap = win32::HeapCreate(win32::HEAP_GROWABLE, kInitialSize, 0);
  if (privateHeap == nullptr) privateHeap = win32::GetProcessHeap();
}

void* K2C_malloc(std::size_t size) {
  if (privateHeap == nullptr) K2C_InitHeap(0, 0);
  return win32::HeapAlloc(privateHeap, 0, size);
}

void K2C_free(void* p, std::size_t /*size*/) {
  win32::HeapFree(privateHeap, 0, p);
}
