// The run-time's own files (0 = success, 1 = failure) and its direct output
// path for reports.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

std::uint32_t K2C_FileOpenRW(win32::HANDLE& handle, const char* path);
std::uint32_t K2C_FileOpenWrite(win32::HANDLE& handle, const char* path);
std::uint32_t K2C_FileClose(win32::HANDLE handle);
std::uint32_t K2C_FileSeek(win32::HANDLE handle, std::uint32_t& position, std::uint32_t origin);
std::uint32_t K2C_FileWrite(win32::HANDLE handle, const void* buffer, std::uint32_t& count);

// Direct output: to the handle given at start-up, or (with INVALID_HANDLE_VALUE)
// into a 1023-character buffer shown by K2C_StdOutFlush in a message box.
void K2C_StdOutInit(win32::HANDLE handle);
void K2C_StdOut(const char* text, std::uint32_t count);
void K2C_StdOutFlush();
