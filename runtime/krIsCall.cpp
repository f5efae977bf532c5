#include "runtime/krIsCall.h"

#include <initializer_list>

namespace {

const std::uint8_t* bytes(std::uintptr_t address) {
  return reinterpret_cast<const std::uint8_t*>(address);
}

// A REX prefix with only the B (and X) bits, as indirect calls through
// r8-r15 carry it.
bool isCallRex(std::uint8_t b) {
  return (b & 0xF4) == 0x40;
}

// The length of an FF /2 call's operand bytes after the ModRM byte, or -1
// when m is no call ModRM.
int operandLength(std::uint8_t m, std::uint8_t sib) {
  if (((m >> 3) & 7) != 2) return -1;
  const int mod = m >> 6;
  const int rm = m & 7;
  if (mod == 3) return 0;
  const int sibLength = rm == 4 ? 1 : 0;
  if (mod == 0) {
    if (rm == 5) return 4;  // rip-relative
    if (rm == 4 && (sib & 7) == 5) return 5;
    return sibLength;
  }
  return sibLength + (mod == 1 ? 1 : 4);
}

// An FF /2 call of exactly length bytes ending at r; a REX prefix before it
// belongs to it.
std::uintptr_t callOfLength(std::uintptr_t r, std::uint32_t length) {
  for (std::uint32_t rex : {1u, 0u}) {
    const std::uintptr_t at = r - length - rex;
    const std::uint8_t* p = bytes(at);
    if (rex == 1 && !isCallRex(p[0])) continue;
    const std::uint8_t* op = p + rex;
    if (op[0] != 0xFF) continue;
    const std::uint8_t sib = length > 2 ? op[2] : 0;
    const int rest = operandLength(op[1], sib);
    if (rest >= 0 && static_cast<std::uint32_t>(rest) + 2 == length) return at;
  }
  return 0;
}

}  // namespace

// The shortest form first, the relative call among them by its length.
std::uintptr_t K2C_IS_CALL(std::uintptr_t r) {
  for (std::uint32_t length : {2u, 3u, 4u, 5u, 6u, 7u}) {
    if (length == 5 && bytes(r - 5)[0] == 0xE8) return r - 5;
    const std::uintptr_t at = callOfLength(r, length);
    if (at != 0) return at;
  }
  return 0;
}
