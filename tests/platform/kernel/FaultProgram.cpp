// Helper program for the fault-filter tests. Installs an unhandled-exception
// filter, then causes the fault named by its first argument. The filter
// records the exception code and steers the faulting thread: into
// reportAndExit (exit code 42), past the faulting instruction, or nowhere.
#include <fenv.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/console/Console.h"
#include "platform/kernel/Exceptions.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/ProcessInternal.h"
#include "tests/support/Scenarios.h"

using namespace win32;

namespace {

std::atomic<DWORD> seenCode{0};
std::atomic<DWORD> filterThreadId{0};
std::atomic<DWORD> faultingThreadId{0};

void writeText(const char* text) {
  (void)!::write(STDOUT_FILENO, text, std::strlen(text));
}

[[noreturn]] void reportAndExit() {
  char line[96];
  std::snprintf(line, sizeof line, "code=%08X same-thread=%d\n", seenCode.load(),
                filterThreadId.load() == faultingThreadId.load() ? 1 : 0);
  writeText(line);
  ::_exit(42);
}

// Enters reportAndExit as if it had been called from the faulting code: below
// the red zone, with the stack aligned as after a call.
LONG WINAPI redirectFilter(EXCEPTION_POINTERS* pointers) {
  seenCode = pointers->ExceptionRecord->ExceptionCode;
  filterThreadId = GetCurrentThreadId();
  CONTEXT& context = *pointers->ContextRecord;
  context.Rsp = ((context.Rsp - 256) & ~DWORD64{15}) - 8;
  context.Rip = reinterpret_cast<DWORD64>(&reportAndExit);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// The resume test: the faulting load reads through Rax = 0, and Rcx holds the
// address of the instruction after it.
LONG WINAPI skipFilter(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  CONTEXT& context = *pointers->ContextRecord;
  const bool consistent = record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                          record.ExceptionAddress == reinterpret_cast<LPVOID>(context.Rip) &&
                          context.Rax == 0 && record.NumberParameters == 2 &&
                          record.ExceptionInformation[0] == 0 &&
                          record.ExceptionInformation[1] == 0 &&
                          (context.ContextFlags & CONTEXT_FLOATING_POINT) == CONTEXT_FLOATING_POINT;
  if (!consistent) return EXCEPTION_CONTINUE_SEARCH;
  context.Rip = context.Rcx;
  context.Rax = 0x1234;
  context.MxCsr = (context.MxCsr & ~0x6000u) | 0x6000u;  // round toward zero
  return EXCEPTION_CONTINUE_EXECUTION;
}

LONG WINAPI refuseFilter(EXCEPTION_POINTERS* pointers) {
  seenCode = pointers->ExceptionRecord->ExceptionCode;
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI overflowFilter(EXCEPTION_POINTERS* pointers) {
  seenCode = pointers->ExceptionRecord->ExceptionCode;
  filterThreadId = faultingThreadId.load();
  reportAndExit();  // the overflowed stack cannot take a redirected call
}

// The faults are written in assembly so that no compiler check (or
// sanitizer check) stands in front of the hardware.
void loadFromNull() {
  faultingThreadId = GetCurrentThreadId();
  std::uint64_t value = 0;
  asm volatile("movq (%1), %0" : "=r"(value) : "r"(std::uint64_t{0}) : "memory");
}

void divideIntegerByZero() {
  faultingThreadId = GetCurrentThreadId();
  asm volatile(
      "movl $1, %%eax\n\t"
      "cltd\n\t"
      "xorl %%ecx, %%ecx\n\t"
      "idivl %%ecx"
      :
      :
      : "eax", "ecx", "edx", "cc");
}

void divideFloatByZero() {
  faultingThreadId = GetCurrentThreadId();
  feenableexcept(FE_DIVBYZERO);
  volatile double zero = 0.0;
  volatile double result = 1.0 / zero;
  (void)result;
}

int resumeAfterFault() {
  SetUnhandledExceptionFilter(&skipFilter);
  std::uint64_t result = 0;
  asm volatile(
      "leaq 1f(%%rip), %%rcx\n\t"
      "xorl %%eax, %%eax\n\t"
      "movq (%%rax), %%rax\n"
      "1:\n\t"
      "movq %%rax, %0"
      : "=r"(result)
      :
      : "rax", "rcx", "memory");
  char line[64];
  std::snprintf(line, sizeof line, "resumed rax=%llX round=%s\n",
                static_cast<unsigned long long>(result),
                (__builtin_ia32_stmxcsr() & 0x6000u) == 0x6000u ? "toward-zero" : "other");
  writeText(line);
  return 0;
}

int unhandledFault() {
  SetUnhandledExceptionFilter(&refuseFilter);
  detail::AddExitHook([] { writeText("exit hook ran\n"); });
  loadFromNull();
  return 0;
}

DWORD WINAPI faultingThread(LPVOID) {
  loadFromNull();
  return 0;
}

int faultOnThread() {
  SetUnhandledExceptionFilter(&redirectFilter);
  HANDLE thread = CreateThread(nullptr, 0, &faultingThread, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  return 1;
}

volatile bool stopRecursion = false;

int recurse(int depth) {
  if (stopRecursion) return depth;
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];
}

DWORD WINAPI overflowingThread(LPVOID) {
  faultingThreadId = GetCurrentThreadId();
  return static_cast<DWORD>(recurse(0));
}

int overflowStack() {
  SetUnhandledExceptionFilter(&overflowFilter);
  HANDLE thread = CreateThread(nullptr, 0, &overflowingThread, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  return 1;
}

int redirectedFault(void (*fault)()) {
  SetUnhandledExceptionFilter(&redirectFilter);
  fault();
  writeText("fault did not happen\n");
  return 1;
}

const testing_support::Scenario<int()> kModes[] = {
    {"null", [] { return redirectedFault(&loadFromNull); }},
    {"intdiv", [] { return redirectedFault(&divideIntegerByZero); }},
    {"fltdiv", [] { return redirectedFault(&divideFloatByZero); }},
    {"resume", &resumeAfterFault},
    {"unhandled", &unhandledFault},
    {"thread", &faultOnThread},
    {"overflow", &overflowStack},
};

}  // namespace

int main(int argc, char** argv) {
  detail::ConnectConsoleHost();
  return testing_support::ScenarioOrExit(kModes, argc > 1 ? argv[1] : "")();
}
