// What another thread asks of the main thread (a break's trap, an exit's
// stop), and the safe points where the main thread answers it.
//
// The main thread is never stopped from outside: a request is set and the
// main thread is woken (an APC ends its alertable wait); it answers at its
// next safe point (the entry of every wait and sleep, every channel call),
// where it holds no lock of the platform's and no channel is half updated.
// A main thread that reaches none within the bound is left where it is.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

// Start-up names the main thread (a real handle of it) from that thread.
void K2C_SetMainThread(win32::HANDLE thread);

// Asks the main thread to stop for good at its next safe point, for an exit
// made on another thread; does nothing on the main thread itself. Answers
// whether it stopped (or waits for an exit already) within the bound.
bool K2C_StopMainThread();

// Asks the main thread to raise the trap at its next safe point, so that its
// own handler frames see it. TRUE when it took the trap within the bound, or
// when the request gave way to an exit (which ends the program already) or
// joined a trap asked for before; FALSE when it was not taken and has been
// withdrawn.
bool K2C_TrapMainThread(std::uint32_t trap);

// The calling thread waits for another thread's exit to end the process;
// the main thread counts as stopped there.
[[noreturn]] void K2C_AwaitOtherExit();

// A trap has been delivered: a frame caught it (`caught`), or it is being
// reported. A later terminate is not the trap the main thread raised at a
// request, and a break that its frame caught no longer bounds the run.
void K2C_NoteTrapDelivered(bool caught);

// Marks a channel's update on the main thread (its buffer half changed): the
// main thread answers a request at the shield's entry, never inside it, and
// an exit that runs without it leaves that record alone.
enum class K2C_Update { read, write };

class K2C_ExitShield {
 public:
  explicit K2C_ExitShield(const void* record = nullptr, K2C_Update kind = K2C_Update::read);
  ~K2C_ExitShield();
  K2C_ExitShield(const K2C_ExitShield&) = delete;
  K2C_ExitShield& operator=(const K2C_ExitShield&) = delete;

 private:
  bool counted_ = false;
};

// Whether the main thread is inside an update of the record right now; and
// whether that update writes the record's output (a write cut short there
// loses output, a read does not).
bool K2C_InChannelUpdate(const void* record);
bool K2C_InChannelWrite(const void* record);
