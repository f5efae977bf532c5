#include "runtime/krDTree.h"

#include <bit>

namespace krDTree {
namespace {

// The counting tree kept as counts per key with two levels of bits above
// them: a bit per key that counts a chunk, and a bit per word of those. The
// smallest counted key from a start is then a mask and two bit scans, and a
// count that leaves or reaches 0 touches two words instead of 12 counters.
constexpr std::int32_t kWordBits = 64;
constexpr std::int32_t kWords = kKeys / kWordBits;  // 32: one summary word
static_assert(kWords <= 64);

std::uint32_t counts[kKeys];
std::uint64_t keyBits[kWords];
std::uint64_t wordBits = 0;

// The counts change with every ins and del; the answer of firstFromWithout
// for the last question holds while they don't: a heap that takes and gives
// back the same object asks the same question again and again.
std::uint64_t changes = 0;
struct Answer {
  std::uint64_t changes = ~std::uint64_t{0};
  std::int32_t key = 0;
  std::int32_t without = 0;
  std::int32_t found = 0;
};
Answer lastAnswer;

// The bits are set and cleared without branches: whether a count reaches or
// leaves 0, and where the next counted key lies, is chance in a heap of
// mixed sizes, and a mispredicted branch costs more than the few
// instructions that spare it.

// Keys are never negative: as unsigned numbers they divide by shifts alone.
std::uint32_t wordOf(std::int32_t key) {
  return static_cast<std::uint32_t>(key) / kWordBits;
}

std::uint64_t bitOf(std::int32_t key) {
  return std::uint64_t{1} << (static_cast<std::uint32_t>(key) % kWordBits);
}

// A counted key's bits, set again when they are set already.
void markCounted(std::int32_t key) {
  const std::uint32_t w = wordOf(key);
  keyBits[w] |= bitOf(key);
  wordBits |= std::uint64_t{1} << w;
}

// The bits of a key whose count is now `count`: cleared when it is 0.
void markCount(std::int32_t key, std::uint32_t count) {
  const std::uint32_t w = wordOf(key);
  const std::uint64_t bits = keyBits[w] & ~(bitOf(key) & (0 - std::uint64_t{count == 0}));
  keyBits[w] = bits;
  wordBits &= ~(std::uint64_t{bits == 0} << w);
}

// The smallest key at or above `from` that counts a chunk; -1 when none.
// The words from `from`'s on, less its own when nothing counts in it from
// `from`: the first of them holds the key.
std::int32_t firstCountedFrom(std::int32_t from) {
  if (from >= kKeys) return -1;
  const auto start = static_cast<std::uint32_t>(from);
  const std::uint32_t w = start / kWordBits;
  const std::uint64_t fromOn = ~std::uint64_t{0} << (start % kWordBits);
  const std::uint64_t here = keyBits[w] & fromOn;
  const std::uint64_t words =
      wordBits & (~std::uint64_t{0} << w) & ~(std::uint64_t{here == 0} << w);
  if (words == 0) return -1;
  const auto next = static_cast<std::uint32_t>(std::countr_zero(words));
  // In from's own word only the keys from it on count.
  const std::uint64_t bits = keyBits[next] & (fromOn | (0 - std::uint64_t{next != w}));
  return static_cast<std::int32_t>(next * kWordBits) + std::countr_zero(bits);
}

}  // namespace

void init() {
  for (auto& c : counts) c = 0;
  for (auto& w : keyBits) w = 0;
  wordBits = 0;
  ++changes;
}

void ins(std::int32_t key) {
  ++changes;
  ++counts[key];
  markCounted(key);
}

void del(std::int32_t key) {
  ++changes;
  markCount(key, --counts[key]);
}

// The tree's search starts at an odd leaf: key itself when odd, key + 1
// when even, and takes the leftmost counted leaf from there on.
std::int32_t find(std::int32_t key) {
  const std::int32_t found = firstCountedFrom(key | 1);
  if (found >= 0) del(found);
  return found;
}

std::int32_t firstFromWithout(std::int32_t key, std::int32_t without) {
  if (lastAnswer.changes == changes && lastAnswer.key == key && lastAnswer.without == without) {
    return lastAnswer.found;
  }
  std::int32_t found = firstCountedFrom(key);
  if (found >= 0 && found == without && counts[found] == 1) found = firstCountedFrom(without + 1);
  lastAnswer = Answer{changes, key, without, found};
  return found;
}

std::uint32_t count(std::int32_t key) {
  return counts[key];
}

}  // namespace krDTree
