// The kernel handle table. A handle names a kernel object (file, console
// buffer, thread, event, mutex, ...); the table keeps each object alive while
// any handle to it is open. Other platform areas register their own kernel
// objects here (the console host registers its input and output buffers).
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD DUPLICATE_CLOSE_SOURCE = 0x1;
inline constexpr DWORD DUPLICATE_SAME_ACCESS = 0x2;

BOOL CloseHandle(HANDLE handle);
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                     DWORD access, BOOL inherit, DWORD options);
HANDLE GetCurrentProcess();  // the pseudo-handle (HANDLE)-1

}  // namespace win32
