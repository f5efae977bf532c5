// Process start-up: command line, filter, break handler, main procedure.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

using K2C_MainProc = void (*)(std::int32_t argc, char** argv);

extern std::int32_t K2C_argc;
extern char** K2C_argv;   // exactly K2C_argc entries; entry 0 the executable's path
extern char* K2C_sysarg;  // the raw rest after the program name, or nullptr

struct K2C_SplitResult {
  std::int32_t argc;
  char** argv;   // nullptr when argc is 0
  char* sysarg;  // points into the given line, or nullptr
};
// Splits a command line the way start-up does (allocates from the process heap).
K2C_SplitResult K2C_SplitCommandLine(char* commandLine);

void K2C_EstablishMain(K2C_MainProc main);
// The start sequence proper, the console host connected first; ends in K2C_EXIT
// when the main procedure returns.
[[noreturn]] void K2C_kStart();
// The process entry: records the module handle, establishes main, starts.
[[noreturn]] void kStart(K2C_MainProc main);

// The call-history hooks: the stack scan (first slot to examine, the stack
// bottom, whether the first slot holds a trap location) and the history
// report. Both NIL until the history is switched on.
using K2C_StackScanProc = void (*)(const void* slot, const void* bottom, bool isTrap);
using K2C_HistoryShowProc = void (*)();
extern K2C_StackScanProc K2C_stkScan;
extern K2C_HistoryShowProc K2C_hisShow;

win32::HMODULE K2C_GetMyHandle();
const char* K2C_GetProgramName();
std::uint32_t K2C_GetModuleName(win32::HMODULE module, char* buffer, std::uint32_t size);
