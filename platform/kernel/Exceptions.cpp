#include "platform/kernel/ExceptionsInternal.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/kernel/ProcessInternal.h"

namespace win32 {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// The filter runs on the alternate stack and may format and write a report;
// sanitizers make frames larger still.
constexpr SIZE_T kAlternateStackSize = 256 * 1024;

// A fault this close to the stack pointer is taken for a stack overflow (the
// guard page below the stack), which cannot be resumed on the same stack.
constexpr std::uintptr_t kStackOverflowReach = 64 * 1024;

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> unhandledFilter{nullptr};

// The installing thread's alternate stack, kept for the life of the process.
detail::AlternateSignalStack* installerSignalStack = nullptr;

DWORD floatingPointCode(int code) {
  switch (code) {
    case FPE_INTDIV:
      return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF:
      return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV:
      return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF:
      return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND:
      return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES:
      return EXCEPTION_FLT_INEXACT_RESULT;
    default:  // FPE_FLTINV, FPE_FLTSUB and unknown causes
      return EXCEPTION_FLT_INVALID_OPERATION;
  }
}

bool nearStackPointer(const siginfo_t* info, const ucontext_t* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const auto stackPointer = static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RSP]);
  const std::uintptr_t distance =
      address > stackPointer ? address - stackPointer : stackPointer - address;
  return distance < kStackOverflowReach;
}

DWORD exceptionCode(int signal, const siginfo_t* info, const ucontext_t* context) {
  switch (signal) {
    case SIGFPE:
      return floatingPointCode(info->si_code);
    case SIGILL:
      return EXCEPTION_ILLEGAL_INSTRUCTION;
    default:
      return nearStackPointer(info, context) ? EXCEPTION_STACK_OVERFLOW
                                             : EXCEPTION_ACCESS_VIOLATION;
  }
}

void fillRecord(EXCEPTION_RECORD& record, int signal, const siginfo_t* info,
                const ucontext_t* context) {
  record.ExceptionCode = exceptionCode(signal, info, context);
  record.ExceptionFlags = 0;
  record.ExceptionRecord = nullptr;
  record.ExceptionAddress = reinterpret_cast<LPVOID>(context->uc_mcontext.gregs[REG_RIP]);
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
    // As on Windows: 0 for a read, 1 for a write (the page-fault error code's
    // write bit), then the address that was accessed.
    const auto errorCode = static_cast<ULONG_PTR>(context->uc_mcontext.gregs[REG_ERR]);
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = (errorCode & 2) != 0 ? 1 : 0;
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
  }
}

void fillContext(CONTEXT& out, const ucontext_t* context) {
  const greg_t* registers = context->uc_mcontext.gregs;
  out.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_FLOATING_POINT;
  out.Rax = static_cast<DWORD64>(registers[REG_RAX]);
  out.Rcx = static_cast<DWORD64>(registers[REG_RCX]);
  out.Rdx = static_cast<DWORD64>(registers[REG_RDX]);
  out.Rbx = static_cast<DWORD64>(registers[REG_RBX]);
  out.Rsp = static_cast<DWORD64>(registers[REG_RSP]);
  out.Rbp = static_cast<DWORD64>(registers[REG_RBP]);
  out.Rsi = static_cast<DWORD64>(registers[REG_RSI]);
  out.Rdi = static_cast<DWORD64>(registers[REG_RDI]);
  out.R8 = static_cast<DWORD64>(registers[REG_R8]);
  out.R9 = static_cast<DWORD64>(registers[REG_R9]);
  out.R10 = static_cast<DWORD64>(registers[REG_R10]);
  out.R11 = static_cast<DWORD64>(registers[REG_R11]);
  out.R12 = static_cast<DWORD64>(registers[REG_R12]);
  out.R13 = static_cast<DWORD64>(registers[REG_R13]);
  out.R14 = static_cast<DWORD64>(registers[REG_R14]);
  out.R15 = static_cast<DWORD64>(registers[REG_R15]);
  out.Rip = static_cast<DWORD64>(registers[REG_RIP]);
  out.EFlags = static_cast<DWORD>(registers[REG_EFL]);
  if (context->uc_mcontext.fpregs != nullptr) {
    out.MxCsr = context->uc_mcontext.fpregs->mxcsr;
    out.FpuErrorOffset = context->uc_mcontext.fpregs->rip;
  }
}

void storeContext(const CONTEXT& in, ucontext_t* context) {
  greg_t* registers = context->uc_mcontext.gregs;
  registers[REG_RAX] = static_cast<greg_t>(in.Rax);
  registers[REG_RCX] = static_cast<greg_t>(in.Rcx);
  registers[REG_RDX] = static_cast<greg_t>(in.Rdx);
  registers[REG_RBX] = static_cast<greg_t>(in.Rbx);
  registers[REG_RSP] = static_cast<greg_t>(in.Rsp);
  registers[REG_RBP] = static_cast<greg_t>(in.Rbp);
  registers[REG_RSI] = static_cast<greg_t>(in.Rsi);
  registers[REG_RDI] = static_cast<greg_t>(in.Rdi);
  registers[REG_R8] = static_cast<greg_t>(in.R8);
  registers[REG_R9] = static_cast<greg_t>(in.R9);
  registers[REG_R10] = static_cast<greg_t>(in.R10);
  registers[REG_R11] = static_cast<greg_t>(in.R11);
  registers[REG_R12] = static_cast<greg_t>(in.R12);
  registers[REG_R13] = static_cast<greg_t>(in.R13);
  registers[REG_R14] = static_cast<greg_t>(in.R14);
  registers[REG_R15] = static_cast<greg_t>(in.R15);
  registers[REG_RIP] = static_cast<greg_t>(in.Rip);
  if (context->uc_mcontext.fpregs != nullptr) context->uc_mcontext.fpregs->mxcsr = in.MxCsr;
}

// The process ends as it would have without the handler: exit hooks first,
// then the signal's default action (the faulting instruction runs again and
// faults once more; a signal sent by kill is raised again instead).
void endWithDefaultAction(int signal, const siginfo_t* info) {
  detail::RunExitHooks();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  if (info->si_code <= 0) ::raise(signal);
}

// Sent by kill, tgkill or sigqueue (a code of 0 or less), not raised by an
// instruction: there is no fault to resume from.
bool sentByAProcess(const siginfo_t* info) {
  return info->si_code <= 0;
}

void faultHandler(int signal, siginfo_t* info, void* rawContext) {
  if (sentByAProcess(info)) {
    detail::ForwardSentFaultSignal(signal);
    return;
  }
  auto* context = static_cast<ucontext_t*>(rawContext);
  const LPTOP_LEVEL_EXCEPTION_FILTER filter = unhandledFilter.load();
  if (filter == nullptr) {
    endWithDefaultAction(signal, info);
    return;
  }
  EXCEPTION_RECORD record{};
  CONTEXT threadContext{};
  fillRecord(record, signal, info, context);
  fillContext(threadContext, context);
  EXCEPTION_POINTERS pointers{&record, &threadContext};
  if (filter(&pointers) == EXCEPTION_CONTINUE_EXECUTION) {
    storeContext(threadContext, context);
    return;
  }
  endWithDefaultAction(signal, info);
}

void installFaultHandlers() {
  for (int signal : kFaultSignals) {
    struct sigaction action {};
    action.sa_sigaction = &faultHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    // The installing thread is the main thread at start-up; its alternate
    // stack lives as long as the process.
    installerSignalStack = new detail::AlternateSignalStack;
    installFaultHandlers();
  });
  return unhandledFilter.exchange(filter);
}

namespace detail {

void ContextFromSignal(CONTEXT& out, const void* signalContext) {
  fillContext(out, static_cast<const ucontext_t*>(signalContext));
}

void ContextToSignal(const CONTEXT& in, void* signalContext) {
  storeContext(in, static_cast<ucontext_t*>(signalContext));
}

// mmap, not malloc: a sanitizer that unmaps a thread's alternate stack at the
// thread's end may meet this one.
AlternateSignalStack::AlternateSignalStack() {
  void* memory = ::mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = kAlternateStackSize;
  if (::sigaltstack(&stack, &previous_) != 0) {
    ::munmap(memory, kAlternateStackSize);
    return;
  }
  memory_ = memory;
  size_ = kAlternateStackSize;
}

AlternateSignalStack::~AlternateSignalStack() {
  if (memory_ == nullptr) return;
  stack_t current{};
  ::sigaltstack(nullptr, &current);
  if (current.ss_sp != memory_) return;  // replaced meanwhile: leave it alone
  if ((previous_.ss_flags & SS_DISABLE) != 0) {
    stack_t disable{};
    disable.ss_flags = SS_DISABLE;
    ::sigaltstack(&disable, nullptr);
  } else {
    ::sigaltstack(&previous_, nullptr);
  }
  ::munmap(memory_, size_);
}

}  // namespace detail
}  // namespace win32
