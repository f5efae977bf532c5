// Halting and the finaliser list.
#pragma once

#include <cstdint>

#include "runtime/kosExit.h"

[[noreturn]] void K2C_HALT(std::uint32_t code);
[[noreturn]] void K2C_ABORT();  // K2C_HALT(9)
[[noreturn]] void K2C_EXIT();   // K2C_doexit(0)
// Registers a module finaliser; finalisers run newest first at every exit,
// each guarded by a handler frame. Trap 18 when no node can be allocated.
void K2C_FINALLY(K2C_PROC proc);
void K2C_FINALEXE(K2C_PROC proc);
void K2C_ini_termination();
