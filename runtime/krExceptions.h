// Traps, exception sources and handler frames.
//
// A raise hands the exception to the innermost active handler frame by
// throwing K2C_Raised, a C++ exception that carries the frame: destructors of
// everything between the raise and the frame run. With no active frame the
// raise prints the unhandled-exception report and ends the program (exit 9).
// Hardware faults arrive through K2C_xFilter, which redirects the faulting
// thread into K2C_TrapFJump; the trap entry then raises from ordinary code.
#pragma once

#include <cstdint>

#include "platform/kernel/Exceptions.h"

struct K2C_ExceptionSource {
  std::uint32_t number;
  char message[1024];  // NUL-terminated when shorter than 1024
};

struct K2C_HandlerFrame {
  std::int16_t state;  // K2C_FRAME_*
  K2C_ExceptionSource* source;
  K2C_HandlerFrame* next;
};

inline constexpr std::int16_t K2C_FRAME_ACTIVE = 0;
inline constexpr std::int16_t K2C_FRAME_HANDLING = 1;
inline constexpr std::int16_t K2C_FRAME_COMPLETED = 2;
inline constexpr std::int16_t K2C_FRAME_PASS_ON = 3;

// Defined with the main thread's safe points (krnHold).
void K2C_NoteTrapDelivered(bool caught);

// What a raise throws; caught only by the frame it names.
struct K2C_Raised {
  K2C_HandlerFrame* frame;
};

extern K2C_ExceptionSource* K2C_rtsSource;
extern K2C_ExceptionSource* K2C_assertSrc;

inline constexpr std::uint32_t K2C_TRAP_NR_INDEX = 0;
inline constexpr std::uint32_t K2C_TRAP_NR_RANGE = 1;
inline constexpr std::uint32_t K2C_TRAP_NR_CASE = 2;
inline constexpr std::uint32_t K2C_TRAP_NR_NIL = 3;
inline constexpr std::uint32_t K2C_TRAP_NR_OVERFLOW = 5;
inline constexpr std::uint32_t K2C_TRAP_NR_DIV = 6;
inline constexpr std::uint32_t K2C_TRAP_NR_REAL = 7;
inline constexpr std::uint32_t K2C_TRAP_NR_REAL_DIV = 8;
inline constexpr std::uint32_t K2C_TRAP_NR_COROUTINE = 13;
inline constexpr std::uint32_t K2C_TRAP_NR_EXCEPTIONS = 14;
inline constexpr std::uint32_t K2C_TRAP_NR_HEAP = 18;
inline constexpr std::uint32_t K2C_TRAP_NR_INTERNAL = 19;
inline constexpr std::uint32_t K2C_TRAP_NR_BREAK = 21;

// The message of a trap number ("" for numbers without one).
const char* K2C_TrapMessage(std::uint32_t trap);

void K2C_init_exceptions();

// Trap entries used by the checks; the location is the caller's.
[[noreturn]] void K2C_TRAP_INDEX();
[[noreturn]] void K2C_TRAP_RANGE();
[[noreturn]] void K2C_TRAP_CASE();
[[noreturn]] void K2C_TRAP_NIL();
[[noreturn]] void K2C_TRAP_OVERFL();
[[noreturn]] void K2C_TRAP_DIV();
[[noreturn]] void K2C_TRAP_G(std::uint32_t trap, const void* location);
[[noreturn]] void K2C_TRAP_F(std::uint32_t trap);
[[noreturn]] void K2C_ASSERT_F(std::uint32_t code);
[[noreturn]] void K2C_doRaise(K2C_ExceptionSource* source);
// The unhandled-exception report for a trap, made without a raise (for a
// thread that reports on another one's behalf); ends the program with 9.
[[noreturn]] void K2C_ReportUnhandledTrap(std::uint32_t trap);

void K2C_XInitHandler(K2C_HandlerFrame* frame);
void K2C_XOFF();
void K2C_XON();
void K2C_XREMOVE();
// Unlinks a frame that a foreign C++ exception (not a raise) is leaving, so
// that no frame outlives the scope that pushed it.
void K2C_XDiscard(K2C_HandlerFrame* frame);

// Called by the thread that begins the program's exit: the handler frames
// it has pushed so far are out of reach from then on, so an exception during
// the exit (a failed flush, say) is reported instead of resuming the code
// that halted.
void K2C_SealHandlerFrames();
// The unhandled-exception report for an exception found during the exit
// that must not end it (a flush that failed): the exit goes on, with code 9
// unless a halt chose another; the report file stays the first report's.
void K2C_ReportDuringExit(const K2C_ExceptionSource* source);

// The text of the last unhandled-exception report ("" before one), kept for
// the error report file.
const char* K2C_ExceptionText();

win32::LONG WINAPI K2C_xFilter(win32::EXCEPTION_POINTERS* pointers);
// Target of redirected threads: trap number in Rax, location in Rdx.
extern "C" void K2C_TrapFJump();
// What K2C_TrapFJump calls: clears the floating-point unit after a float trap
// and raises the trap as K2C_TRAP_G does.
extern "C" [[noreturn]] void K2C_TrapEntry(std::uint32_t trap, const void* location);

// A protected statement sequence: body runs under a new handler frame; when an
// exception reaches the frame, handler(frame) runs with frame.source set and
// may call K2C_XON to pass the exception on when the frame is removed.
template <class Body, class Handler>
void K2C_Protect(Body&& body, Handler&& handler) {
  K2C_HandlerFrame frame;
  K2C_XInitHandler(&frame);
  try {
    body();
    K2C_XOFF();
  } catch (const K2C_Raised& raised) {
    if (raised.frame != &frame) throw;
    K2C_NoteTrapDelivered(true);
    handler(frame);
  } catch (...) {
    K2C_XDiscard(&frame);
    throw;
  }
  K2C_XREMOVE();
}

// Checked helpers for the system's range and index checks.
template <class T>
inline T K2C_CheckIndex(T index, T length) {
  if (index >= length) K2C_TRAP_INDEX();
  return index;
}
template <class T>
inline T K2C_CheckRange(T value, T low, T high) {
  if (value < low || value > high) K2C_TRAP_RANGE();
  return value;
}
std::uint32_t K2C_CheckedAddU32(std::uint32_t a, std::uint32_t b);  // trap 5 on overflow
std::uint32_t K2C_CheckedSubU32(std::uint32_t a, std::uint32_t b);
std::uint32_t K2C_CheckedMulU32(std::uint32_t a, std::uint32_t b);
