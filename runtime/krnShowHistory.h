// The registry of code sections, the history switch and the writer of the
// error report file "errinfo.$$$".
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

struct K2C_HisNode {
  std::uintptr_t start;  // first byte of the section
  std::uintptr_t end;    // last byte; 0 when the section was not found
  win32::HMODULE module;
  std::uint32_t section;  // index in the module's section table
  K2C_HisNode* next;
};

// Sorted by ascending start; nodes live until the process ends.
extern K2C_HisNode* K2C_HisList;

// Registers the section of module that holds address.
void K2C_HISTORY_REG(win32::HMODULE module, const void* address);
// Switches the history on: the stack scan and the writer become the hooks.
void K2C_HISTORY_ON();
// Registers the executable's code section and switches the history on; the
// main module calls it before K2C_BEGIN.
void K2C_INIT_HISTORY();
// Whether address lies at least 7 bytes into a registered section, with the
// section's start, index and module.
bool K2C_IS_CODESEG(std::uintptr_t address, std::uintptr_t& start, std::uint32_t& section,
                    win32::HMODULE& module);
// The history writer: the command line, the exception text and the history
// into "errinfo.$$$" in the current directory, CR LF line ends.
void K2C_show_history_file();
