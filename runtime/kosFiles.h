// Handle-level file operations for the channel devices. Every operation
// returns the operating system's error code (0 = success).
#pragma once

#include <cstdint>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/WinTypes.h"

struct FilePos {
  std::uint32_t high;
  std::uint32_t low;
};

inline constexpr std::uint32_t K2C_FILE_DISK = 0;
inline constexpr std::uint32_t K2C_FILE_CHAR = 1;
inline constexpr std::uint32_t K2C_FILE_PIPE = 2;
inline constexpr std::uint32_t K2C_FILE_OTHER = 3;

bool K2C_IsMixAllowed();
std::uint32_t K2C_fGetStd(win32::HANDLE& handle, std::uint32_t selector);
std::uint32_t K2C_fSetStd(win32::HANDLE handle, std::uint32_t selector);
std::uint32_t K2C_fGetFileType(win32::HANDLE handle);
std::uint32_t K2C_fRead(win32::HANDLE handle, void* buffer, std::uint32_t count,
                        std::uint32_t& read);
// Inline: a standard stream's line is written from deep in the channel
// layers, and each frame between the system call and the caller costs a
// mispredicted return on the way back.
inline std::uint32_t K2C_fWrite(win32::HANDLE handle, const void* buffer, std::uint32_t count,
                                std::uint32_t& written) {
  win32::DWORD done = 0;
  win32::BOOL ok = win32::WriteFile(handle, buffer, count, &done, nullptr);
  written = done;
  return ok ? 0 : win32::GetLastError();
}
std::uint32_t K2C_fSeek(win32::HANDLE handle, FilePos& pos, std::uint32_t origin);
std::uint32_t K2C_fTell(win32::HANDLE handle, FilePos& pos);
std::uint32_t K2C_fFlush(win32::HANDLE handle);
