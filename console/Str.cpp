// Number-to-text conversion.
#include "console/Str.h"

#include <algorithm>

#include "runtime/ModuleInit.h"
#include "runtime/krnK2C.h"

namespace Str {
namespace {

bool initialised = false;
constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  K2C_InitFPP();
}

void CardToStr(std::uint32_t value, char* s, std::size_t capacity, std::uint32_t base, bool& ok) {
  base = std::clamp<std::uint32_t>(base, 2, 16);
  ok = true;
  std::size_t i = 0;
  do {
    if (i == capacity) {
      ok = false;
      break;
    }
    s[i++] = kDigits[value % base];
    value /= base;
  } while (value != 0);
  if (i < capacity) s[i] = '\0';
  std::reverse(s, s + i);
}

}  // namespace Str
