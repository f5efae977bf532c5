// The call history of the running coroutine and the stack scan that fills it.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

struct K2C_HistoryEntry {
  std::uint32_t offset;   // of the call instruction (or trap location) in its section
  std::uint32_t section;  // index in the module's section table
  win32::HMODULE module;
};

inline constexpr std::int16_t K2C_HISTORY_SIZE = 256;

struct K2C_History {
  K2C_HistoryEntry entries[K2C_HISTORY_SIZE];
  std::int16_t count;  // goes on rising past 256; the surplus is not stored
};

// The main coroutine's history.
K2C_History& K2C_CurrentHistory();

// Records the return addresses on the stack from slot (which holds the trap
// location when isTrap) up to bottom: the frames are found by the unwinder,
// and a return address counts when it lies in a registered section behind a
// call instruction.
void K2C_STACK_SCAN_PROC(const void* slot, const void* bottom, bool isTrap);
