// libFuzzer target: the heap driven by the input's bytes, checked against the
// model after every step. Built alone with scripts/fuzz.sh: the heap, the
// platform memory calls, and trap entries that end the run at once.
#include <cstdio>
#include <cstdlib>

#include "runtime/kosFileIO.h"
#include "platform/kernel/Files.h"
#include "runtime/krExceptions.h"
#include "tests/runtime/HeapModel.h"

void K2C_TRAP_F(std::uint32_t trap) {
  std::fprintf(stderr, "heap fuzz: trap %u\n", trap);
  std::abort();
}

void K2C_ASSERT_F(std::uint32_t code) {
  std::fprintf(stderr, "heap fuzz: assertion %u\n", code);
  std::abort();
}

void K2C_StdOutInit(win32::HANDLE) {}
namespace win32 {
HANDLE GetStdHandle(DWORD) {
  return nullptr;
}
}  // namespace win32

namespace {

struct Limits {
  std::int32_t threshold;
  std::int32_t limit;
};
constexpr Limits kLimits[] = {{0, 0}, {2000000, 4000000}, {0, 300000}, {100000, 0}};

std::uint32_t word(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void fail(const std::string& what, std::size_t step) {
  std::fprintf(stderr, "heap fuzz: step %zu: %s\n", step, what.c_str());
  std::abort();
}

}  // namespace

// Byte 0 picks the limits; then every 5 bytes are one step: allocate (op
// below 160) a size from the word, or release the object the word picks.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Limits limits = kLimits[data[0] % std::size(kLimits)];
  K2C_GC_INIT(false, limits.threshold, limits.limit);
  heap_model::Model model(limits.threshold, limits.limit);
  std::size_t step = 0;
  for (std::size_t at = 1; at + 5 <= size; at += 5, ++step) {
    const std::uint32_t r = word(data + at + 1);
    const std::string bad =
        data[at] < 160 ? model.allocate(heap_model::RequestSize(r)) : model.release(r);
    if (!bad.empty()) fail(bad, step);
  }
  std::string bad = model.checkAllContents();
  if (bad.empty()) bad = model.releaseAll();
  if (!bad.empty()) fail(bad, step);
  return 0;
}
