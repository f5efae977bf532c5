// Whether a return address follows a call instruction.
#pragma once

#include <cstdint>

// The address of the call instruction that ends just before address, or 0.
// Knows the x86-64 call forms: relative, and indirect through a register or
// memory operand (with or without REX prefix, displacement and SIB byte).
std::uintptr_t K2C_IS_CALL(std::uintptr_t address);
