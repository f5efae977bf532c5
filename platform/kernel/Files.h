// Files and standard handles on POSIX file descriptors.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

inline constexpr DWORD FILE_TYPE_UNKNOWN = 0x0000;
inline constexpr DWORD FILE_TYPE_DISK = 0x0001;
inline constexpr DWORD FILE_TYPE_CHAR = 0x0002;
inline constexpr DWORD FILE_TYPE_PIPE = 0x0003;
inline constexpr DWORD FILE_TYPE_REMOTE = 0x8000;

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

struct OVERLAPPED;

// The process's standard handles start as handles on descriptors 0, 1 and 2.
HANDLE GetStdHandle(DWORD which);
BOOL SetStdHandle(DWORD which, HANDLE handle);

// A terminal or other character device: FILE_TYPE_CHAR; fifo or socket:
// FILE_TYPE_PIPE; regular file: FILE_TYPE_DISK; anything else (including an
// invalid handle, with ERROR_INVALID_HANDLE): FILE_TYPE_UNKNOWN.
DWORD GetFileType(HANDLE file);

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile);
// Reading at end of file succeeds with 0 bytes; a pipe whose writers are gone
// reads 0 bytes too (as a broken pipe does on Windows, ERROR_BROKEN_PIPE).
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped);
// Writes everything unless an error stops it; a pipe without readers gives
// ERROR_BROKEN_PIPE (SIGPIPE never ends the process).
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               OVERLAPPED* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL FlushFileBuffers(HANDLE file);

namespace detail {
// The descriptor behind a file handle, or -1.
int FileDescriptor(HANDLE file);
// A new handle on a descriptor that the handle then owns (closed with it).
HANDLE HandleForDescriptor(int fd);
}  // namespace detail

}  // namespace win32
