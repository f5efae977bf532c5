// The run-time heap beside the C library's malloc and free doing the same
// work: allocate+release pairs and a ring of live objects of random sizes,
// for small, medium and large requests.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "runtime/krM2MM.h"
#include "runtime/krMM.h"

namespace {

struct Heap {
  static void* take(std::uint32_t size) {
    void* p = nullptr;
    K2C_ALLOCATE(p, size);
    return p;
  }
  static void give(void* p) { K2C_DEALLOCATE(p); }
};

struct Libc {
  static void* take(std::uint32_t size) { return std::malloc(size); }
  static void give(void* p) { std::free(p); }
};

// Request ranges per class: small, medium, large.
constexpr std::uint32_t kLow[] = {1, 153, 16161};
constexpr std::uint32_t kHigh[] = {152, 16160, 65536};
constexpr std::uint32_t kFixed[] = {40, 1000, 20000};
constexpr std::size_t kRing = 1024;

void setUp() {
  K2C_GC_INIT(false, 0, 0);
}

// Pairs in an otherwise empty heap: each pair takes a block and gives it back.
template <class A>
void Pairs(benchmark::State& state) {
  setUp();
  const std::uint32_t size = kFixed[state.range(0)];
  for (auto _ : state) {
    void* p = A::take(size);
    benchmark::DoNotOptimize(p);
    A::give(p);
  }
  state.SetItemsProcessed(state.iterations());
}

// Pairs beside one live object of the same size, as in a heap in use.
template <class A>
void PairsBeside(benchmark::State& state) {
  setUp();
  const std::uint32_t size = kFixed[state.range(0)];
  void* resident = A::take(size);
  for (auto _ : state) {
    void* p = A::take(size);
    benchmark::DoNotOptimize(p);
    A::give(p);
  }
  A::give(resident);
  state.SetItemsProcessed(state.iterations());
}

// A ring of live objects: each step releases the oldest and allocates a new
// one of a random size from the class.
template <class A>
void Mixed(benchmark::State& state) {
  setUp();
  const auto cls = static_cast<std::size_t>(state.range(0));
  std::mt19937 random(42);
  std::vector<std::uint32_t> sizes(4096);
  for (auto& s : sizes) s = kLow[cls] + random() % (kHigh[cls] - kLow[cls] + 1);
  std::vector<void*> ring(kRing);
  for (std::size_t i = 0; i < kRing; ++i) ring[i] = A::take(sizes[i]);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t slot = i % kRing;
    A::give(ring[slot]);
    ring[slot] = A::take(sizes[i % sizes.size()]);
    benchmark::DoNotOptimize(ring[slot]);
    ++i;
  }
  for (void* p : ring) A::give(p);
  state.SetItemsProcessed(state.iterations());
}

void Classes(benchmark::internal::Benchmark* b) {
  b->ArgName("class")->Arg(0)->Arg(1)->Arg(2);
}

BENCHMARK(Pairs<Heap>)->Apply(Classes);
BENCHMARK(Pairs<Libc>)->Apply(Classes);
BENCHMARK(PairsBeside<Heap>)->Apply(Classes);
BENCHMARK(PairsBeside<Libc>)->Apply(Classes);
BENCHMARK(Mixed<Heap>)->Apply(Classes);
BENCHMARK(Mixed<Libc>)->Apply(Classes);

}  // namespace
