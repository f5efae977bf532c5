// The free-size tree: counts of free medium chunks by key (size div 8 - 1),
// searched for the smallest key above a given one.
#pragma once

#include <cstdint>

namespace krDTree {

inline constexpr std::int32_t kKeys = 2048;

void init();
void ins(std::int32_t key);
void del(std::int32_t key);
// A key at or above key that counts a chunk, the smallest one from key's
// leaf (from key + 1 when key is even) rightwards, taken off the counts; -1
// when there is none. Callers look at list key itself first.
std::int32_t find(std::int32_t key);
// The smallest key at or above key that would count a chunk with one chunk
// of key `without` taken off, the counts left as they are; -1 when none.
std::int32_t firstFromWithout(std::int32_t key, std::int32_t without);
std::uint32_t count(std::int32_t key);

}  // namespace krDTree
