#include "runtime/kosCodeSeg.h"

#include "platform/kernel/DebugHelp.h"

namespace kosCodeSeg {

// The module's section table, from its image headers; only sections that are
// loaded have a virtual size.
void calcCodeExtent(win32::HMODULE module, const void* address, std::uintptr_t& start,
                    std::uintptr_t& end, std::uint32_t& section) {
  start = end = 0;
  section = 0;
  win32::IMAGE_NT_HEADERS* headers = win32::ImageNtHeader(module);
  if (headers == nullptr) return;
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const auto wanted = reinterpret_cast<std::uintptr_t>(address);
  const win32::IMAGE_SECTION_HEADER* table = win32::IMAGE_FIRST_SECTION(headers);
  for (std::uint32_t i = 0; i < headers->FileHeader.NumberOfSections; ++i) {
    const win32::IMAGE_SECTION_HEADER& s = table[i];
    if (s.Misc.VirtualSize == 0) continue;
    const std::uintptr_t first = base + s.VirtualAddress;
    if (wanted >= first && wanted <= first + s.Misc.VirtualSize - 1) {
      start = first;
      end = first + s.Misc.VirtualSize - 1;
      section = i;
      return;
    }
  }
}

}  // namespace kosCodeSeg
