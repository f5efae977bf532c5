// K2C_BEGIN and the floating-point set-up.
#pragma once

#include <cstdint>

void K2C_BEGIN(std::int32_t& argc, char** argv, bool gcAuto, std::int32_t gcThreshold,
               std::int32_t heapLimit);
void K2C_assign_acav(std::int32_t argc, char** argv);
// Unmasks invalid-operation, zero-divide and overflow traps (x87 and SSE) on
// the calling thread, once per process.
void K2C_InitFPP();
// After a floating-point trap: clears the exception flags and re-arms the traps.
void K2C_ClearFPP();
std::uint32_t K2C_wasNLibInit();
void K2C_makeNLibInit();
std::uint32_t K2C_wasXEntry();
void K2C_makeXEntry();

// The main coroutine's stack bottom, recorded by the first K2C_BEGIN (NIL
// before it); the call-history scan ends there.
const void* K2C_GetStackBottom();
