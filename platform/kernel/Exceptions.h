// Structured-exception and console-control stand-ins on Linux signals.
//
// Hardware faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) of any thread reach the
// unhandled-exception filter on the faulting thread, on an alternate signal
// stack, with an EXCEPTION_RECORD (Windows exception code) and the thread's
// CONTEXT. A filter returning EXCEPTION_CONTINUE_EXECUTION resumes the thread
// in the (possibly rewritten) context; any other answer ends the process the
// way Windows would: exit hooks, then the signal's default action.
//
// Console control events: SIGINT is CTRL_C_EVENT, SIGQUIT CTRL_BREAK_EVENT,
// SIGHUP CTRL_CLOSE_EVENT and SIGTERM CTRL_SHUTDOWN_EVENT. A thread of the
// platform's own receives them and calls the registered handlers newest first
// until one returns TRUE; when none does, the default handler ends the
// process (exit hooks, then the signal's default action).
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
inline constexpr DWORD EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
inline constexpr DWORD EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
inline constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
inline constexpr DWORD EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
inline constexpr DWORD EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
inline constexpr DWORD EXCEPTION_FLT_OVERFLOW = 0xC0000091;
inline constexpr DWORD EXCEPTION_FLT_STACK_CHECK = 0xC0000092;
inline constexpr DWORD EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
inline constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
inline constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095;
inline constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
inline constexpr DWORD EXCEPTION_STACK_OVERFLOW = 0xC00000FD;
inline constexpr DWORD EXCEPTION_NONCONTINUABLE = 0x1;

inline constexpr LONG EXCEPTION_EXECUTE_HANDLER = 1;
inline constexpr LONG EXCEPTION_CONTINUE_SEARCH = 0;
inline constexpr LONG EXCEPTION_CONTINUE_EXECUTION = -1;

inline constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;

struct EXCEPTION_RECORD {
  DWORD ExceptionCode;
  DWORD ExceptionFlags;
  EXCEPTION_RECORD* ExceptionRecord;
  LPVOID ExceptionAddress;
  DWORD NumberParameters;
  ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

inline constexpr DWORD CONTEXT_AMD64 = 0x00100000;
inline constexpr DWORD CONTEXT_CONTROL = CONTEXT_AMD64 | 0x1;
inline constexpr DWORD CONTEXT_INTEGER = CONTEXT_AMD64 | 0x2;
inline constexpr DWORD CONTEXT_FLOATING_POINT = CONTEXT_AMD64 | 0x8;

// The x86-64 thread context (the fields this platform fills).
struct CONTEXT {
  DWORD ContextFlags;
  DWORD MxCsr;
  DWORD EFlags;
  DWORD64 Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
  DWORD64 R8, R9, R10, R11, R12, R13, R14, R15;
  DWORD64 Rip;
  // Address of the last x87 instruction that raised (the x87 error offset).
  DWORD64 FpuErrorOffset;
};

namespace detail {
// The x87 error offset of a context: a field of its own here, the
// floating-point save area's 64-bit instruction pointer on Windows.
inline DWORD64 FpuErrorOffset(const CONTEXT& context) {
  return context.FpuErrorOffset;
}
}  // namespace detail

struct EXCEPTION_POINTERS {
  EXCEPTION_RECORD* ExceptionRecord;
  CONTEXT* ContextRecord;
};

using LPTOP_LEVEL_EXCEPTION_FILTER = LONG(WINAPI*)(EXCEPTION_POINTERS* pointers);
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

inline constexpr DWORD CTRL_C_EVENT = 0;
inline constexpr DWORD CTRL_BREAK_EVENT = 1;
inline constexpr DWORD CTRL_CLOSE_EVENT = 2;
inline constexpr DWORD CTRL_LOGOFF_EVENT = 5;
inline constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

using PHANDLER_ROUTINE = BOOL(WINAPI*)(DWORD ctrlType);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

}  // namespace win32
