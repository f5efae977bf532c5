// Exit hooks and command-line joining inside the platform.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/Process.h"
#include "platform/kernel/RuntimeHooks.h"

namespace win32::detail {
// One argument vector joined into a command line that splits back into the
// same arguments: blanks are quoted, quotes escaped with a backslash.
std::string JoinCommandLine(const std::vector<std::string>& arguments);
// Registers a hook run by ExitProcess and by every fatal path of the platform
// (unhandled fault, fatal signal), newest first. Hooks must be async-signal
// tolerant: they run at most once each.
void AddExitHook(void (*hook)());
void RunExitHooks();
}  // namespace win32::detail
