// The exit-procedure table (8 slots) and the single exit path.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

using K2C_PROC = void (*)();

// Registers an exit procedure; trap 13 when all 8 slots are taken.
void K2C_atexit(K2C_PROC proc);
// Runs the exit procedures not yet started, newest first, then ends the
// process with the code. Callable from any thread, also from an exit
// procedure (the nested exit runs only the procedures not yet started).
[[noreturn]] void K2C_doexit(std::uint32_t code);

// Makes the calling thread the one that ends the program, once: the first
// caller owns the exit (its frames sealed, the limiter armed, the main thread
// asked to stop when it is another thread); a caller on another thread then
// waits for that exit to end the process and never returns; a nested call
// on the owner makes its code the exit code.
void K2C_BeginExit(std::uint32_t code);
// A failure found during the exit that must not end it: a normal end (0)
// becomes 9, a halt keeps its code; with no exit begun, begins one with 9.
void K2C_FailExit();
bool K2C_ExitInProgress();

// The limiter: started once at start-up, before any exit or break can
// begin. Armed by every exit and break, it ends the process when the exit
// has not ended within its bound (2.5 s of the time the process runs, the
// first arming's): it says so on standard error, calls the flush set here
// (on its own thread: it must leave alone what another thread is writing),
// and ends through ExitProcess (the exit hooks put the terminal back) with
// 9. A break that its frame caught disarms it.
void K2C_StartExitLimiter();
void K2C_ArmExitLimit();
void K2C_DisarmExitLimit();
void K2C_SetExitLimitFlush(K2C_PROC flush);
// The exit without its end: for a caller that ends the process itself (a
// termination signal ends it by its own default action).
void K2C_RunExitProcedures(std::uint32_t code);

// Milliseconds the process has run since the clock was made, leaving out
// the time it was stopped: each Step adds the time since the one before,
// counted as kLongestStepMs at most, so a stop (Ctrl+Z, SIGSTOP) that falls
// in a step counts as that much. Steps come every few milliseconds.
class K2C_RunningClock {
 public:
  static constexpr win32::ULONGLONG kLongestStepMs = 100;
  K2C_RunningClock();
  win32::ULONGLONG Step();

 private:
  win32::ULONGLONG last_;
  win32::ULONGLONG ran_ = 0;
};
