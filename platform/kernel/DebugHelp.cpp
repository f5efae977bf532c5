// The image headers are built once from the executable's ELF section table,
// in the layout Windows keeps at a module's base; the stack walk runs on the
// unwinder's frame data (the .eh_frame the compiler emits for every function).
#include "platform/kernel/DebugHelp.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>
#include <unwind.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/kernel/Process.h"

namespace win32 {
namespace {

bool readAt(int fd, void* buffer, std::size_t size, off_t offset) {
  return ::pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

using SectionEntry = ElfW(Shdr);

struct ElfImage {
  std::vector<SectionEntry> sections;
  std::vector<char> names;  // the section-name string table
};

ElfImage readExecutable() {
  ElfImage image;
  const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return image;
  ElfW(Ehdr) header{};
  const bool valid = readAt(fd, &header, sizeof header, 0) &&
                     std::equal(header.e_ident, header.e_ident + SELFMAG, ELFMAG) &&
                     header.e_shentsize == sizeof(SectionEntry) && header.e_shnum != 0;
  if (valid) {
    image.sections.resize(header.e_shnum);
    if (!readAt(fd, image.sections.data(), image.sections.size() * sizeof(SectionEntry),
                static_cast<off_t>(header.e_shoff))) {
      image.sections.clear();
    }
  }
  if (!image.sections.empty() && header.e_shstrndx < image.sections.size()) {
    const SectionEntry& strings = image.sections[header.e_shstrndx];
    image.names.resize(strings.sh_size + 1);
    if (!readAt(fd, image.names.data(), strings.sh_size, static_cast<off_t>(strings.sh_offset))) {
      image.names.clear();
    }
  }
  ::close(fd);
  return image;
}

// Where the executable's addresses are moved to (0 unless it is position
// independent): the first object dl_iterate_phdr reports is the executable.
int takeFirstBias(dl_phdr_info* info, std::size_t, void* data) {
  *static_cast<std::uintptr_t*>(data) = info->dlpi_addr;
  return 1;
}

DWORD characteristicsOf(const SectionEntry& s) {
  DWORD flags = 0;
  if ((s.sh_flags & SHF_ALLOC) != 0) flags |= IMAGE_SCN_MEM_READ;
  if ((s.sh_flags & SHF_WRITE) != 0) flags |= IMAGE_SCN_MEM_WRITE;
  if ((s.sh_flags & SHF_EXECINSTR) != 0) {
    flags |= IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE;
  } else if (s.sh_type == SHT_NOBITS) {
    flags |= IMAGE_SCN_CNT_UNINITIALIZED_DATA;
  } else if ((s.sh_flags & SHF_ALLOC) != 0) {
    flags |= IMAGE_SCN_CNT_INITIALIZED_DATA;
  }
  return flags;
}

IMAGE_SECTION_HEADER sectionHeader(const ElfImage& image, const SectionEntry& s,
                                   std::uintptr_t loadedAt) {
  IMAGE_SECTION_HEADER out{};
  if (s.sh_name < image.names.size()) {
    const char* name = image.names.data() + s.sh_name;
    std::memcpy(out.Name, name, strnlen(name, IMAGE_SIZEOF_SHORT_NAME));
  }
  if ((s.sh_flags & SHF_ALLOC) != 0) {
    out.VirtualAddress = static_cast<DWORD>(s.sh_addr - loadedAt);
    out.Misc.VirtualSize = static_cast<DWORD>(s.sh_size);
  }
  out.SizeOfRawData = s.sh_type == SHT_NOBITS ? 0 : static_cast<DWORD>(s.sh_size);
  out.PointerToRawData = static_cast<DWORD>(s.sh_offset);
  out.Characteristics = characteristicsOf(s);
  return out;
}

// The headers and the section table in one block, as at a module's base.
IMAGE_NT_HEADERS* buildHeaders(std::uintptr_t base) {
  const ElfImage image = readExecutable();
  if (image.sections.empty() || image.sections.size() > 0xFFFF) return nullptr;
  std::uintptr_t bias = 0;
  ::dl_iterate_phdr(&takeFirstBias, &bias);
  const std::uintptr_t loadedAt = base - bias;  // the base in the file's own addresses
  const std::size_t size =
      sizeof(IMAGE_NT_HEADERS) + image.sections.size() * sizeof(IMAGE_SECTION_HEADER);
  auto* headers = static_cast<IMAGE_NT_HEADERS*>(::operator new(size, std::nothrow));
  if (headers == nullptr) return nullptr;
  std::memset(static_cast<void*>(headers), 0, size);
  headers->Signature = IMAGE_NT_SIGNATURE;
  headers->FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
  headers->FileHeader.NumberOfSections = static_cast<WORD>(image.sections.size());
  headers->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
  headers->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  headers->OptionalHeader.ImageBase = base;
  headers->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
  IMAGE_SECTION_HEADER* table = IMAGE_FIRST_SECTION(headers);
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    table[i] = sectionHeader(image, image.sections[i], loadedAt);
  }
  return headers;
}

struct Walk {
  PSTACK_FRAME_VISITOR visitor;
  LPVOID context;
  bool skippedOwnFrame = false;
};

// The unwinder hands over each frame with the frame address (CFA) of the
// frame it returns from still in its context: the stack pointer after the
// return.
_Unwind_Reason_Code visitFrame(_Unwind_Context* unwind, void* data) {
  Walk& walk = *static_cast<Walk*>(data);
  const std::uintptr_t ip = _Unwind_GetIP(unwind);
  if (ip == 0) return _URC_END_OF_STACK;
  if (!walk.skippedOwnFrame) {
    walk.skippedOwnFrame = true;  // WalkStack's own frame
    return _URC_NO_REASON;
  }
  const DWORD64 rsp = _Unwind_GetCFA(unwind);
  return walk.visitor(ip, rsp, walk.context) ? _URC_NO_REASON : _URC_END_OF_STACK;
}

}  // namespace

IMAGE_NT_HEADERS* ImageNtHeader(LPVOID base) {
  const HMODULE executable = GetModuleHandleA(nullptr);
  if (base == nullptr || base != static_cast<LPVOID>(executable)) return nullptr;
  static std::once_flag built;
  static IMAGE_NT_HEADERS* headers = nullptr;
  std::call_once(built, [&] { headers = buildHeaders(reinterpret_cast<std::uintptr_t>(base)); });
  return headers;
}

// Not inlined: the first frame the unwinder reports is this function's.
__attribute__((noinline)) void WalkStack(PSTACK_FRAME_VISITOR visitor, LPVOID context) {
  if (visitor == nullptr) return;
  Walk walk{visitor, context};
  _Unwind_Backtrace(&visitFrame, &walk);
}

}  // namespace win32
