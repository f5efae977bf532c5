// Process and private heaps, and reserved/committed address space (mmap).
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD HEAP_NO_SERIALIZE = 0x00000001;
inline constexpr DWORD HEAP_GROWABLE = 0x00000002;
inline constexpr DWORD HEAP_GENERATE_EXCEPTIONS = 0x00000004;
inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

inline constexpr DWORD MEM_COMMIT = 0x00001000;
inline constexpr DWORD MEM_RESERVE = 0x00002000;
inline constexpr DWORD MEM_DECOMMIT = 0x00004000;
inline constexpr DWORD MEM_RELEASE = 0x00008000;
inline constexpr DWORD PAGE_NOACCESS = 0x01;
inline constexpr DWORD PAGE_READONLY = 0x02;
inline constexpr DWORD PAGE_READWRITE = 0x04;

HANDLE GetProcessHeap();
HANDLE HeapCreate(DWORD options, SIZE_T initialSize, SIZE_T maximumSize);
BOOL HeapDestroy(HANDLE heap);
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// HeapCreate's maximum size (0: growable) limits the bytes allocated at once.
// VirtualAlloc reserves (MEM_RESERVE, address NULL) and commits pages inside a
// reservation; committed pages start zeroed. MEM_DECOMMIT makes pages
// inaccessible and drops their contents; MEM_RELEASE (size 0) frees a whole
// reservation by its base address. A reservation starts on a multiple of
// 64 KiB, as on Windows.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

}  // namespace win32
