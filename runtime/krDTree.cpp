#include "runtime/krDTree.h"

namespace krDTree {
namespace {

// Node 1 is the root, the children of n are 2n and 2n + 1, leaf kKeys + k
// counts key k: 12 levels.
constexpr std::int32_t kNodes = 2 * kKeys;

std::uint32_t counters[kNodes];
// For every right child n, the next subtree to its right: the right sibling
// of its nearest ancestor that is a left child; -1 when there is none.
std::int32_t nextRight[kNodes];

std::int32_t nextSubtreeRight(std::int32_t n) {
  while ((n & 1) != 0) n >>= 1;
  return n == 0 ? -1 : n + 1;
}

void adjust(std::int32_t key, std::uint32_t delta) {
  for (std::int32_t n = kKeys + key; n >= 1; n >>= 1) counters[n] += delta;
}

}  // namespace

void init() {
  for (std::int32_t n = 0; n < kNodes; ++n) {
    counters[n] = 0;
    nextRight[n] = (n & 1) != 0 ? nextSubtreeRight(n) : -1;
  }
}

void ins(std::int32_t key) {
  adjust(key, 1);
}

void del(std::int32_t key) {
  adjust(key, ~0u);
}

std::int32_t find(std::int32_t key) {
  std::int32_t n = kKeys + key + ((key & 1) == 0 ? 1 : 0);
  if (n >= kNodes) return -1;
  while (counters[n] == 0) {
    n = nextRight[n];
    if (n < 0) return -1;
  }
  while (n < kKeys) n = counters[2 * n] != 0 ? 2 * n : 2 * n + 1;
  const std::int32_t found = n - kKeys;
  del(found);
  return found;
}

std::uint32_t count(std::int32_t key) {
  return counters[kKeys + key];
}

}  // namespace krDTree
