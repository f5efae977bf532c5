// The process: command line, module names and handles, error mode, exit.
#pragma once

#include <string>
#include <vector>

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
UINT SetErrorMode(UINT mode);
// Runs the platform's exit hooks (the terminal is put back), then ends the
// process at once with the code; other threads end with it.
[[noreturn]] void ExitProcess(UINT exitCode);

namespace detail {
// One argument vector joined into a command line that splits back into the
// same arguments: blanks are quoted, quotes escaped with a backslash.
std::string JoinCommandLine(const std::vector<std::string>& arguments);
// Registers a hook run by ExitProcess and by every fatal path of the platform
// (unhandled fault, fatal signal), newest first. Hooks must be async-signal
// tolerant: they run at most once each.
void AddExitHook(void (*hook)());
void RunExitHooks();
// The display the windows are on is gone (its connection lost). The run-time
// sets what then happens (its orderly exit); it runs on the thread that found
// the loss, must not touch the display again and does not return. Without
// one the process ends through the exit hooks with 9.
void SetDisplayLostHandler(void (*handler)());
[[noreturn]] void DisplayLost();
}  // namespace detail

}  // namespace win32
