// What a program learns about its own image and stack: the image's NT headers
// and section table (as dbghelp's ImageNtHeader reads them from a module), and
// a walk over the calling thread's stack frames (as an x64 unwind steps them).
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD IMAGE_NT_SIGNATURE = 0x00004550;  // "PE\0\0"
inline constexpr WORD IMAGE_FILE_MACHINE_AMD64 = 0x8664;
inline constexpr WORD IMAGE_NT_OPTIONAL_HDR64_MAGIC = 0x20B;
inline constexpr DWORD IMAGE_NUMBEROF_DIRECTORY_ENTRIES = 16;
inline constexpr DWORD IMAGE_SIZEOF_SHORT_NAME = 8;

inline constexpr DWORD IMAGE_SCN_CNT_CODE = 0x00000020;
inline constexpr DWORD IMAGE_SCN_CNT_INITIALIZED_DATA = 0x00000040;
inline constexpr DWORD IMAGE_SCN_CNT_UNINITIALIZED_DATA = 0x00000080;
inline constexpr DWORD IMAGE_SCN_MEM_EXECUTE = 0x20000000;
inline constexpr DWORD IMAGE_SCN_MEM_READ = 0x40000000;
inline constexpr DWORD IMAGE_SCN_MEM_WRITE = 0x80000000;

struct IMAGE_FILE_HEADER {
  WORD Machine;
  WORD NumberOfSections;
  DWORD TimeDateStamp;
  DWORD PointerToSymbolTable;
  DWORD NumberOfSymbols;
  WORD SizeOfOptionalHeader;
  WORD Characteristics;
};

struct IMAGE_DATA_DIRECTORY {
  DWORD VirtualAddress;
  DWORD Size;
};

struct IMAGE_OPTIONAL_HEADER64 {
  WORD Magic;
  BYTE MajorLinkerVersion;
  BYTE MinorLinkerVersion;
  DWORD SizeOfCode;
  DWORD SizeOfInitializedData;
  DWORD SizeOfUninitializedData;
  DWORD AddressOfEntryPoint;
  DWORD BaseOfCode;
  ULONGLONG ImageBase;
  DWORD SectionAlignment;
  DWORD FileAlignment;
  WORD MajorOperatingSystemVersion;
  WORD MinorOperatingSystemVersion;
  WORD MajorImageVersion;
  WORD MinorImageVersion;
  WORD MajorSubsystemVersion;
  WORD MinorSubsystemVersion;
  DWORD Win32VersionValue;
  DWORD SizeOfImage;
  DWORD SizeOfHeaders;
  DWORD CheckSum;
  WORD Subsystem;
  WORD DllCharacteristics;
  ULONGLONG SizeOfStackReserve;
  ULONGLONG SizeOfStackCommit;
  ULONGLONG SizeOfHeapReserve;
  ULONGLONG SizeOfHeapCommit;
  DWORD LoaderFlags;
  DWORD NumberOfRvaAndSizes;
  IMAGE_DATA_DIRECTORY DataDirectory[IMAGE_NUMBEROF_DIRECTORY_ENTRIES];
};

struct IMAGE_NT_HEADERS64 {
  DWORD Signature;
  IMAGE_FILE_HEADER FileHeader;
  IMAGE_OPTIONAL_HEADER64 OptionalHeader;
};
using IMAGE_NT_HEADERS = IMAGE_NT_HEADERS64;

struct IMAGE_SECTION_HEADER {
  BYTE Name[IMAGE_SIZEOF_SHORT_NAME];
  union {
    DWORD PhysicalAddress;
    DWORD VirtualSize;
  } Misc;
  DWORD VirtualAddress;  // relative to the module's base
  DWORD SizeOfRawData;
  DWORD PointerToRawData;
  DWORD PointerToRelocations;
  DWORD PointerToLinenumbers;
  WORD NumberOfRelocations;
  WORD NumberOfLinenumbers;
  DWORD Characteristics;
};

// The section table follows the optional header, whatever its size.
inline IMAGE_SECTION_HEADER* IMAGE_FIRST_SECTION(IMAGE_NT_HEADERS* headers) {
  return reinterpret_cast<IMAGE_SECTION_HEADER*>(reinterpret_cast<BYTE*>(&headers->OptionalHeader) +
                                                 headers->FileHeader.SizeOfOptionalHeader);
}

// The NT headers of a loaded module, followed by its section table; null for
// anything but a module's base. The executable (GetModuleHandleA(NULL)) is
// the one module here: its sections are those of its file, in the file's
// order (the first is the file format's empty entry). A section that is not
// loaded has VirtualSize 0.
IMAGE_NT_HEADERS* ImageNtHeader(LPVOID base);

// Walks the calling thread's stack outwards from the caller of WalkStack,
// one frame at a time as RtlVirtualUnwind steps an x64 context: the visitor
// gets each frame's Rip (where its code goes on; for every frame but the
// first, the return address it was called with) and Rsp (the stack pointer
// there: the return address was read from Rsp - 8). The walk ends where the
// unwind data ends or when the visitor answers FALSE.
using PSTACK_FRAME_VISITOR = BOOL (*)(DWORD64 rip, DWORD64 rsp, LPVOID context);
void WalkStack(PSTACK_FRAME_VISITOR visitor, LPVOID context);

}  // namespace win32
