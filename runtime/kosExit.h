// The exit-procedure table (8 slots) and the single exit path.
#pragma once

#include <cstdint>

using K2C_PROC = void (*)();

// Registers an exit procedure; trap 13 when all 8 slots are taken.
void K2C_atexit(K2C_PROC proc);
// Runs the exit procedures not yet started, newest first, then ends the
// process with the code. Callable from any thread, also from an exit
// procedure (the nested exit runs only the procedures not yet started).
[[noreturn]] void K2C_doexit(std::uint32_t code);
