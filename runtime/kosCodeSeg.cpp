#include "runtime/kosCodeSeg.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <vector>

namespace kosCodeSeg {
namespace {

// The loaded object that holds an address: its load bias and file name.
struct LoadedObject {
  const void* address;
  std::uintptr_t bias = 0;
  const char* name = nullptr;
  bool found = false;
};

int findObject(dl_phdr_info* info, std::size_t, void* data) {
  auto* wanted = static_cast<LoadedObject*>(data);
  const auto address = reinterpret_cast<std::uintptr_t>(wanted->address);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    const std::uintptr_t first = info->dlpi_addr + segment.p_vaddr;
    if (segment.p_type == PT_LOAD && address >= first && address < first + segment.p_memsz) {
      wanted->bias = info->dlpi_addr;
      wanted->name = info->dlpi_name;
      wanted->found = true;
      return 1;
    }
  }
  return 0;
}

bool readAt(int fd, void* buffer, std::size_t size, off_t offset) {
  return ::pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

// The section headers of the object's file (the executable's when it has no
// name of its own).
std::vector<ElfW(Shdr)> sectionTable(const char* name) {
  const char* path = name != nullptr && name[0] != '\0' ? name : "/proc/self/exe";
  std::vector<ElfW(Shdr)> table;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return table;
  ElfW(Ehdr) header{};
  const bool valid = readAt(fd, &header, sizeof header, 0) &&
                     std::equal(header.e_ident, header.e_ident + SELFMAG, ELFMAG) &&
                     header.e_shentsize == sizeof(ElfW(Shdr)) && header.e_shnum != 0;
  if (valid) {
    table.resize(header.e_shnum);
    if (!readAt(fd, table.data(), table.size() * sizeof(ElfW(Shdr)),
                static_cast<off_t>(header.e_shoff))) {
      table.clear();
    }
  }
  ::close(fd);
  return table;
}

}  // namespace

// Only sections that are loaded (SHF_ALLOC) have addresses.
void calcCodeExtent(win32::HMODULE /*module*/, const void* address, std::uintptr_t& start,
                    std::uintptr_t& end, std::uint32_t& section) {
  start = end = 0;
  section = 0;
  LoadedObject object{address};
  ::dl_iterate_phdr(&findObject, &object);
  if (!object.found) return;
  const auto wanted = reinterpret_cast<std::uintptr_t>(address);
  const std::vector<ElfW(Shdr)> table = sectionTable(object.name);
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    const ElfW(Shdr)& s = table[i];
    if ((s.sh_flags & SHF_ALLOC) == 0 || s.sh_size == 0) continue;
    const std::uintptr_t first = object.bias + s.sh_addr;
    if (wanted >= first && wanted <= first + s.sh_size - 1) {
      start = first;
      end = first + s.sh_size - 1;
      section = i;
      return;
    }
  }
}

}  // namespace kosCodeSeg
