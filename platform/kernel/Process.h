// The process: command line, module names and handles, error mode, exit.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;

// The process's arguments re-joined with Windows quoting, program name first.
LPCSTR GetCommandLineA();
// NULL module: the executable's full path. Returns the length copied (without
// the NUL), or 0 on failure; a buffer too small receives a truncated,
// NUL-terminated path and ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
// NULL name: the executable's own module (its load address).
HMODULE GetModuleHandleA(LPCSTR name);

inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, name is an address and the
// answer is the module whose image holds it: the executable, or a shared
// library (its load address); an address in no image fails with
// ERROR_MOD_NOT_FOUND. Without the flag, as GetModuleHandleA. Modules stay
// loaded either way, so the reference-count flags change nothing.
BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);
UINT SetErrorMode(UINT mode);
// Runs the platform's exit hooks (the terminal is put back), then ends the
// process at once with the code; other threads end with it.
[[noreturn]] void ExitProcess(UINT exitCode);

}  // namespace win32
