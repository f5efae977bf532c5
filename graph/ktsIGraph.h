// What the graphics library shares with the input modules: the graphics-mode
// flag, the console input handle and the window hook.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Win32.h"

namespace ktsIGraph {

// Called by the graphics window procedure, on the window's server thread,
// with every message before the window handles it; the result is dropped.
// The hook does its own locking for state it shares with other threads.
using WindowHook = std::int32_t (*)(win32::HWND window, std::uint32_t message, std::uint32_t wParam,
                                    std::int32_t lParam);

// TRUE from the first successful Graph::Init on, never cleared. Atomic: the
// main thread sets it while the window hook may read it on the server thread.
extern std::atomic<bool> fGrMode;
// hConsoleInput and proc are written only by module bodies on the main
// thread (this one's, then the mouse module's), before the first Graph::Init
// makes the server thread and before the event queue makes its reader; the
// thread's creation orders those writes before every read there, so neither
// takes a lock. Nothing writes them once those threads run.
//
// The console input buffer: the event queue reads it, the graphics window
// writes its key records into it (server thread).
extern win32::HANDLE hConsoleInput;
// Installed by the mouse module's body; none at module start. Called on the
// server thread.
extern WindowHook proc;

void BEGIN();

}  // namespace ktsIGraph
