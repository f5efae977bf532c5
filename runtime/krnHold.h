// Holding the main thread while another thread ends the program, and the
// console break delivered to it as a trap.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

// Start-up names the main thread (a real handle of it) from that thread.
void K2C_SetMainThread(win32::HANDLE thread);

// Holds the main thread for the rest of the run, from another thread; does
// nothing on the main thread itself. It is held at a safe point (in the
// program's own code, outside any exit shield) when one comes within a
// bound, else wherever it is. Answers whether the safe point was had.
bool K2C_HoldMainThread();

// Holds the main thread at a safe point and makes it go on in the trap
// entry with the trap at the instruction it was held at. Answers FALSE when
// no safe point came within the bound; the main thread then stays held.
// When an exit began meanwhile the trap is dropped (the exit ends the
// program) and the answer is TRUE.
bool K2C_TrapMainThread(std::uint32_t trap);

// The main thread waits for another thread's exit: it may be held there.
void K2C_NoteWaitingForExit();

// Marks code on the main thread that another thread's exit must not cut
// into (a channel's buffer half updated): the main thread is not held
// inside it while the bound lasts.
class K2C_ExitShield {
 public:
  K2C_ExitShield();
  ~K2C_ExitShield();
  K2C_ExitShield(const K2C_ExitShield&) = delete;
  K2C_ExitShield& operator=(const K2C_ExitShield&) = delete;
};
