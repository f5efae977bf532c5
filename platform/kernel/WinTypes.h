// Basic Win32 types and constants shared by every area of the platform layer.
// Names, widths and values are those of the Win32 headers, so code above the
// platform reads as it would on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// The calling convention of every function handed to the system. On 32-bit
// Windows it differs from the compiler's default; here it is the x64
// Microsoft convention, a type of its own, so that a callback declared
// without it does not compile on this platform either.
#define WINAPI __attribute__((ms_abi))
#define CALLBACK __attribute__((ms_abi))

namespace win32 {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using BOOLEAN = std::uint8_t;
using CHAR = char;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD64 = std::uint64_t;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using COLORREF = DWORD;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using PLONG = LONG*;

// Handles are small values naming objects of a known kind; the number behind
// a handle indexes the owning area's table. Distinct pointer types keep the
// kinds apart at compile time, as STRICT does on Windows.
using HANDLE = void*;
#define SHAPEBOARD_DECLARE_HANDLE(name) \
  struct name##__;                      \
  using name = name##__*
SHAPEBOARD_DECLARE_HANDLE(HINSTANCE);
SHAPEBOARD_DECLARE_HANDLE(HWND);
SHAPEBOARD_DECLARE_HANDLE(HDC);
SHAPEBOARD_DECLARE_HANDLE(HICON);
SHAPEBOARD_DECLARE_HANDLE(HCURSOR);
SHAPEBOARD_DECLARE_HANDLE(HMENU);
SHAPEBOARD_DECLARE_HANDLE(HPEN);
SHAPEBOARD_DECLARE_HANDLE(HBRUSH);
SHAPEBOARD_DECLARE_HANDLE(HBITMAP);
SHAPEBOARD_DECLARE_HANDLE(HPALETTE);
SHAPEBOARD_DECLARE_HANDLE(HFONT);
SHAPEBOARD_DECLARE_HANDLE(HRGN);
#undef SHAPEBOARD_DECLARE_HANDLE
using HMODULE = HINSTANCE;
using HGDIOBJ = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct POINT {
  LONG x;
  LONG y;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct SIZE {
  LONG cx;
  LONG cy;
};

}  // namespace win32
