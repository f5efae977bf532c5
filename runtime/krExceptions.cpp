// Traps, exception sources and handler frames.
//
// Handler frames form a stack per thread: a frame lives in the stack frame of
// the scope that pushed it, so a raise may only ever reach frames of its own
// thread. A trap on a thread without an active frame of its own is unhandled.
#include "runtime/krExceptions.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "runtime/kosFileIO.h"
#include "runtime/kosFmtIO.h"
#include "runtime/TERMINATION.h"
#include "runtime/kosExit.h"
#include "runtime/krnHold.h"
#include "runtime/krnK2C.h"
#include "runtime/krnStart.h"

namespace {

K2C_ExceptionSource rtsSourceRecord{};
K2C_ExceptionSource assertSourceRecord{};

thread_local K2C_HandlerFrame* frameTop = nullptr;
// Set when this thread begins the program's exit: the frames pushed before
// (at and below the floor) belong to code that the exit does not return to.
thread_local bool framesSealed = false;
thread_local K2C_HandlerFrame* exitFloor = nullptr;

// The exception text of the last unhandled-exception report, for the error
// report file.
constexpr std::size_t kExceptionTextSize = 1024;
char exceptionText[kExceptionTextSize];

constexpr const char* kTrapMessages[] = {
    "invalid index",
    "expression out of bounds",
    "invalid case in CASE statement",
    "invalid location",
    "function without RETURN statement",
    "whole overflow",
    "zero or negative divisor",
    "real overflow",
    "float division by zero",
    "complex overflow",
    "complex division by zero",
    "protection error",
    "SYSTEM exception",
    "COROUTINE exception",
    "EXCEPTIONS exception",
    "",
    "ASSERT",
    "type guard check",
    "out of heap space",
    "RTS internal error",
    "invalid type cast",
    "USER BREAK",
    "call to unloaded DLL",
};

constexpr std::size_t kMessageSize = sizeof(K2C_ExceptionSource::message);

std::size_t messageLength(const K2C_ExceptionSource* source) {
  return strnlen(source->message, kMessageSize);
}

// Appends text to a bounded buffer, keeping room for the NUL.
class TextBuilder {
 public:
  TextBuilder(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {}
  void append(const char* text, std::size_t count) {
    std::size_t room = size_ - 1 - used_;
    std::size_t n = std::min(count, room);
    std::memcpy(buffer_ + used_, text, n);
    used_ += n;
    buffer_[used_] = '\0';
  }
  void append(const char* text) { append(text, std::strlen(text)); }
  void appendDecimal(std::uint32_t value) {
    char digits[10];
    std::uint32_t count = 0;
    K2C_DecToStr(digits, count, value);
    append(digits, count);
  }

 private:
  char* buffer_;
  std::size_t size_;
  std::size_t used_ = 0;
};

void recordHistory(const void* slot, bool isTrap) {
  if (K2C_stkScan != nullptr) K2C_stkScan(slot, K2C_GetStackBottom(), isTrap);
}

void writeUnhandledReport(const K2C_ExceptionSource* source) {
  static constexpr char kHead[] = "#RTS: unhandled exception #";
  std::size_t length = messageLength(source);

  K2C_StdOut(kHead, sizeof kHead - 1);
  K2C_StdOutD(source->number, 0);
  if (length > 0) {
    K2C_StdOut(": ", 2);
    K2C_StdOut(source->message, static_cast<std::uint32_t>(length));
  }
  K2C_StdOutN();

  TextBuilder text(exceptionText, kExceptionTextSize);
  text.append(kHead);
  text.appendDecimal(source->number);
  if (length > 0) {
    text.append(": ");
    text.append(source->message, length);
  }
}

// One exit writes one report file, the first report's: a failure found
// later in the same exit (output that could not be written at the end) is
// reported too, but the history of the real error stays in the file.
std::atomic<bool> reportFileWritten{false};

void showHistoryOnce() {
  if (K2C_hisShow != nullptr && !reportFileWritten.exchange(true)) K2C_hisShow();
}

// The report is part of the exit: the thread claims the exit first, so two
// threads never report at once and a report never races a running exit.
[[noreturn]] void reportUnhandled(const K2C_ExceptionSource* source) {
  K2C_NoteTrapDelivered(false);
  K2C_BeginExit(9);
  writeUnhandledReport(source);
  showHistoryOnce();
  K2C_StdOutFlush();
  K2C_ABORT();
}

// Hands the source to the innermost active frame of this thread, dropping
// the frames that are handling, completed or passing on.
[[noreturn]] void raise(K2C_ExceptionSource* source) {
  auto reachable = [] { return frameTop != nullptr && !(framesSealed && frameTop == exitFloor); };
  while (reachable() && frameTop->state != K2C_FRAME_ACTIVE) frameTop = frameTop->next;
  if (!reachable()) reportUnhandled(source);
  frameTop->source = source;
  frameTop->state = K2C_FRAME_HANDLING;
  throw K2C_Raised{frameTop};
}

void setTrapText(std::uint32_t trap) {
  TextBuilder text(K2C_rtsSource->message, kMessageSize);
  const char* message = K2C_TrapMessage(trap);
  if (*message != '\0') {
    text.append(message);
  } else {
    text.append("TRAP(");
    text.appendDecimal(trap);
    text.append(")");
  }
  K2C_rtsSource->number = trap;
}

[[noreturn]] void trapAt(std::uint32_t trap, const void* location, bool isTrapLocation) {
  recordHistory(&location, isTrapLocation);
  setTrapText(trap);
  raise(K2C_rtsSource);
}

}  // namespace

K2C_ExceptionSource* K2C_rtsSource = &rtsSourceRecord;
K2C_ExceptionSource* K2C_assertSrc = &assertSourceRecord;

const char* K2C_TrapMessage(std::uint32_t trap) {
  constexpr std::uint32_t count = sizeof kTrapMessages / sizeof kTrapMessages[0];
  return trap < count ? kTrapMessages[trap] : "";
}

const char* K2C_ExceptionText() {
  return exceptionText;
}

void K2C_init_exceptions() {
  rtsSourceRecord.number = 0;
  rtsSourceRecord.message[0] = '\0';
  assertSourceRecord.number = 0;
  assertSourceRecord.message[0] = '\0';
  K2C_rtsSource = &rtsSourceRecord;
  K2C_assertSrc = &assertSourceRecord;
}

// The check entries take their own return address as the trap location: the
// instruction after the call in the checking procedure.
__attribute__((noinline)) void K2C_TRAP_INDEX() {
  trapAt(K2C_TRAP_NR_INDEX, __builtin_return_address(0), true);
}
__attribute__((noinline)) void K2C_TRAP_RANGE() {
  trapAt(K2C_TRAP_NR_RANGE, __builtin_return_address(0), true);
}
__attribute__((noinline)) void K2C_TRAP_CASE() {
  trapAt(K2C_TRAP_NR_CASE, __builtin_return_address(0), true);
}
__attribute__((noinline)) void K2C_TRAP_NIL() {
  trapAt(K2C_TRAP_NR_NIL, __builtin_return_address(0), true);
}
__attribute__((noinline)) void K2C_TRAP_OVERFL() {
  trapAt(K2C_TRAP_NR_OVERFLOW, __builtin_return_address(0), true);
}
__attribute__((noinline)) void K2C_TRAP_DIV() {
  trapAt(K2C_TRAP_NR_DIV, __builtin_return_address(0), true);
}

void K2C_TRAP_G(std::uint32_t trap, const void* location) {
  trapAt(trap, location, true);
}

__attribute__((noinline)) void K2C_TRAP_F(std::uint32_t trap) {
  trapAt(trap, __builtin_return_address(0), false);
}

void K2C_ReportDuringExit(const K2C_ExceptionSource* source) {
  K2C_FailExit();
  writeUnhandledReport(source);
  showHistoryOnce();
  K2C_StdOutFlush();
}

void K2C_ReportUnhandledTrap(std::uint32_t trap) {
  setTrapText(trap);
  reportUnhandled(K2C_rtsSource);
}

extern "C" void K2C_TrapEntry(std::uint32_t trap, const void* location) {
  if (trap == K2C_TRAP_NR_REAL || trap == K2C_TRAP_NR_REAL_DIV) K2C_ClearFPP();
  trapAt(trap, location, true);
}

__attribute__((noinline)) void K2C_ASSERT_F(std::uint32_t code) {
  const void* location = __builtin_return_address(0);
  recordHistory(&location, false);
  TextBuilder text(K2C_assertSrc->message, kMessageSize);
  text.append("ASSERT(FALSE, ");
  text.appendDecimal(code);
  text.append(")");
  K2C_assertSrc->number = code;
  raise(K2C_assertSrc);
}

__attribute__((noinline)) void K2C_doRaise(K2C_ExceptionSource* source) {
  const void* location = __builtin_return_address(0);
  recordHistory(&location, false);
  raise(source);
}

void K2C_XInitHandler(K2C_HandlerFrame* frame) {
  frame->state = K2C_FRAME_ACTIVE;
  frame->source = nullptr;
  frame->next = frameTop;
  frameTop = frame;
}

void K2C_XOFF() {
  if (frameTop != nullptr) frameTop->state = K2C_FRAME_COMPLETED;
}

void K2C_XON() {
  if (frameTop != nullptr) frameTop->state = K2C_FRAME_PASS_ON;
}

void K2C_XREMOVE() {
  if (frameTop == nullptr) K2C_TRAP_F(K2C_TRAP_NR_INTERNAL);
  K2C_HandlerFrame* frame = frameTop;
  frameTop = frame->next;
  if (frame->state == K2C_FRAME_PASS_ON) raise(frame->source);
}

void K2C_SealHandlerFrames() {
  if (framesSealed) return;
  framesSealed = true;
  exitFloor = frameTop;
}

void K2C_XDiscard(K2C_HandlerFrame* frame) {
  for (K2C_HandlerFrame* top = frameTop; top != nullptr; top = top->next) {
    if (top == frame) {
      frameTop = frame->next;
      return;
    }
  }
}

// Checked unsigned arithmetic for the overflow checks.
std::uint32_t K2C_CheckedAddU32(std::uint32_t a, std::uint32_t b) {
  std::uint32_t result;
  if (__builtin_add_overflow(a, b, &result)) K2C_TRAP_OVERFL();
  return result;
}

std::uint32_t K2C_CheckedSubU32(std::uint32_t a, std::uint32_t b) {
  std::uint32_t result;
  if (__builtin_sub_overflow(a, b, &result)) K2C_TRAP_OVERFL();
  return result;
}

std::uint32_t K2C_CheckedMulU32(std::uint32_t a, std::uint32_t b) {
  std::uint32_t result;
  if (__builtin_mul_overflow(a, b, &result)) K2C_TRAP_OVERFL();
  return result;
}

namespace {

constexpr std::uint32_t kNoTrap = 0xFFFFFFFF;

std::uint32_t trapForException(win32::DWORD code) {
  switch (code) {
    case win32::EXCEPTION_ACCESS_VIOLATION:
      return K2C_TRAP_NR_NIL;
    case win32::EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return K2C_TRAP_NR_INDEX;
    case win32::EXCEPTION_FLT_DIVIDE_BY_ZERO:
      return K2C_TRAP_NR_REAL_DIV;
    case win32::EXCEPTION_FLT_DENORMAL_OPERAND:
    case win32::EXCEPTION_FLT_INEXACT_RESULT:
    case win32::EXCEPTION_FLT_INVALID_OPERATION:
    case win32::EXCEPTION_FLT_OVERFLOW:
    case win32::EXCEPTION_FLT_STACK_CHECK:
    case win32::EXCEPTION_FLT_UNDERFLOW:
      return K2C_TRAP_NR_REAL;
    case win32::EXCEPTION_INT_DIVIDE_BY_ZERO:
      return K2C_TRAP_NR_DIV;
    case win32::EXCEPTION_INT_OVERFLOW:
      return K2C_TRAP_NR_OVERFLOW;
    default:
      return kNoTrap;
  }
}

// An SSE fault leaves its flag set under an unmasked exception bit in MXCSR;
// the x87 error offset then belongs to some older x87 instruction.
bool isSseFault(const win32::CONTEXT& context) {
  std::uint32_t flags = context.MxCsr & 0x3F;
  std::uint32_t unmasked = ~(context.MxCsr >> 7) & 0x3F;
  return (flags & unmasked) != 0;
}

const void* trapLocation(std::uint32_t trap, const win32::CONTEXT& context) {
  constexpr win32::DWORD kFloatContext = win32::CONTEXT_FLOATING_POINT;
  bool floatTrap = trap == K2C_TRAP_NR_REAL || trap == K2C_TRAP_NR_REAL_DIV;
  if (floatTrap && (context.ContextFlags & kFloatContext) == kFloatContext &&
      !isSseFault(context) && win32::detail::FpuErrorOffset(context) != 0) {
    return reinterpret_cast<const void*>(win32::detail::FpuErrorOffset(context));
  }
  return reinterpret_cast<const void*>(context.Rip);
}

// The thread resumes in K2C_TrapFJump on a fresh piece of its own stack below
// the red zone. The two words there are what K2C_TrapFJump's unwind rules
// read: the faulting instruction (its "return address") and the stack pointer
// at the fault (its caller's frame), so a raise unwinds through the faulting
// function as if that instruction had called the trap entry.
constexpr win32::DWORD64 kRedZone = 128;

// A thread without an alternate signal stack runs the filter on the faulting
// stack itself, just below the fault: the trap entry's stack then starts well
// below the filter's own frames instead.
constexpr win32::DWORD64 kSameStackSpan = 64u << 20;
constexpr win32::DWORD64 kFilterClearance = 16u << 10;

win32::DWORD64 trapEntryStack(win32::DWORD64 faultRsp) {
  char here = 0;
  auto filterStack = reinterpret_cast<win32::DWORD64>(&here);
  win32::DWORD64 stack = faultRsp - kRedZone - 16;
  if (filterStack < faultRsp && faultRsp - filterStack < kSameStackSpan) {
    stack = std::min(stack, filterStack - kFilterClearance);
  }
  return stack & ~win32::DWORD64{15};
}

__attribute__((no_sanitize("address", "undefined"))) void redirectToTrapEntry(
    win32::CONTEXT& context, std::uint32_t trap, const void* location, win32::DWORD64 stack) {
  auto* slots = reinterpret_cast<win32::DWORD64*>(stack);
  slots[0] = context.Rip;
  slots[1] = context.Rsp;
  context.Rsp = stack;
  context.Rip = reinterpret_cast<win32::DWORD64>(&K2C_TrapFJump);
  context.Rax = trap;
  context.Rdx = reinterpret_cast<win32::DWORD64>(location);
}

}  // namespace

win32::LONG WINAPI K2C_xFilter(win32::EXCEPTION_POINTERS* pointers) {
  const win32::EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (record.ExceptionFlags != 0) {
    static constexpr char kMessage[] = "#RTS: Unable to handle an exception.";
    K2C_StdOut(kMessage, sizeof kMessage - 1);
    K2C_StdOutN();
    K2C_StdOutFlush();
    return win32::EXCEPTION_EXECUTE_HANDLER;
  }
  std::uint32_t trap = trapForException(record.ExceptionCode);
  if (trap == kNoTrap) return win32::EXCEPTION_EXECUTE_HANDLER;
  win32::CONTEXT& context = *pointers->ContextRecord;
  redirectToTrapEntry(context, trap, trapLocation(trap, context), trapEntryStack(context.Rsp));
  return win32::EXCEPTION_CONTINUE_EXECUTION;
}
