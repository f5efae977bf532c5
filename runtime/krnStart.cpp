// Process start-up: the console host, the command line, the fault filter, the
// console break handler and the call of the main procedure.
#include "runtime/krnStart.h"

#include <cstring>

#include "runtime/kosFileIO.h"
#include "runtime/kosFmtIO.h"
#include "platform/console/Console.h"
#include "platform/kernel/Exceptions.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/RuntimeHooks.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "runtime/TERMINATION.h"
#include "runtime/kosExit.h"
#include "runtime/krExceptions.h"
#include "runtime/kosMem.h"
#include "runtime/krnHold.h"
#include "runtime/krnK2C.h"

std::int32_t K2C_argc = 0;
char** K2C_argv = nullptr;
char* K2C_sysarg = nullptr;
K2C_StackScanProc K2C_stkScan = nullptr;
K2C_HistoryShowProc K2C_hisShow = nullptr;

namespace {

win32::HMODULE executableHandle = nullptr;
K2C_MainProc mainProcedure = nullptr;
win32::HANDLE mainThread = nullptr;

// ---- command line ----

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

void* processHeapAlloc(std::size_t bytes) {
  return K2C_StartupAlloc(bytes);
}

// The raw rest starts at the first space after the program name; quotes are
// not honoured here and a tab does not end the name.
char* rawRest(char* line) {
  char* p = line;
  while (isBlank(*p)) ++p;
  while (*p != '\0' && *p != ' ') ++p;
  return *p == ' ' ? p : nullptr;
}

// Scans one argument from p (which it advances past the argument and the
// blank that ends it) and returns its length; copies it to out when given.
std::size_t scanArgument(const char*& p, char* out) {
  bool quoted = false;
  std::size_t length = 0;
  auto yield = [&](char c) {
    if (out != nullptr) out[length] = c;
    ++length;
  };
  while (*p != '\0') {
    char c = *p;
    if (c == '\\' && p[1] == '"') {
      yield('"');
      p += 2;
    } else if (c == '"') {
      quoted = !quoted;
      ++p;
    } else if (isBlank(c) && !quoted) {
      ++p;
      break;
    } else {
      yield(c);
      ++p;
    }
  }
  return length;
}

std::int32_t countArguments(const char* line) {
  std::int32_t count = 0;
  const char* p = line;
  for (;;) {
    while (isBlank(*p)) ++p;
    if (*p == '\0') return count;
    if (scanArgument(p, nullptr) > 0) ++count;
  }
}

// Stores up to count non-empty arguments; returns how many it stored.
std::int32_t storeArguments(const char* line, char** argv, std::int32_t count) {
  std::int32_t stored = 0;
  const char* p = line;
  while (stored < count) {
    while (isBlank(*p)) ++p;
    if (*p == '\0') break;
    const char* start = p;
    std::size_t length = scanArgument(p, nullptr);
    if (length == 0) continue;
    auto* text = static_cast<char*>(processHeapAlloc(length + 1));
    if (text == nullptr) break;
    const char* again = start;
    scanArgument(again, text);
    text[length] = '\0';
    argv[stored++] = text;
  }
  return stored;
}

// ---- executable path ----

// Paths on this platform may be longer than the classic 260 characters; a
// truncated path is retried in a larger buffer rather than used.
char* executablePath() {
  constexpr win32::DWORD kSizes[] = {260, 4096, 32768};
  for (win32::DWORD size : kSizes) {
    auto* buffer = static_cast<char*>(processHeapAlloc(size));
    if (buffer == nullptr) return nullptr;
    win32::DWORD length = win32::GetModuleFileNameA(nullptr, buffer, size);
    if (length > 0 && length < size - 1) return buffer;
    win32::HeapFree(win32::GetProcessHeap(), 0, buffer);
    if (length == 0) return nullptr;
  }
  return nullptr;
}

// ---- console break ----

// The break is asked of the main thread: it raises trap 21 itself at its next
// safe point (a wait, a delay, the key wait, a channel call, a Graph call), so
// its handler frames see the break as they see any trap. A main thread that
// reaches none within the bound (it computes, or blocks outside a wait) is
// left where it is, and the break is reported from here. A break during the
// exit is dropped: the exit ends the program already.
void takeBreak() {
  if (K2C_ExitInProgress()) return;
  K2C_ArmExitLimit();
  if (K2C_TrapMainThread(K2C_TRAP_NR_BREAK)) return;
  if (K2C_ExitInProgress()) return;
  K2C_wasXEntry();  // acquires the start-up state published by K2C_BEGIN
  K2C_ReportUnhandledTrap(K2C_TRAP_NR_BREAK);
}

win32::BOOL WINAPI breakHandler(win32::DWORD ctrlType) {
  switch (ctrlType) {
    case win32::CTRL_C_EVENT:
    case win32::CTRL_BREAK_EVENT:
      takeBreak();
      return win32::TRUE;
    case win32::CTRL_CLOSE_EVENT:
    case win32::CTRL_LOGOFF_EVENT:
    case win32::CTRL_SHUTDOWN_EVENT:
      // Hang-up and termination end the program by their own default action
      // (the exit code the parent sees), after the same orderly exit: main
      // thread held, finalisers, pending output written.
      K2C_RunExitProcedures(9);
      return win32::FALSE;
    default:
      return win32::FALSE;
  }
}

// The display is gone under the running program: an orderly exit with 9 and
// a report, on the thread that found it (which must not touch the display
// again: the finalisers do not).
[[noreturn]] void displayLost() {
  K2C_BeginExit(9);
  static constexpr char kMessage[] = "#RTS: The connection to the display was lost.";
  K2C_StdOut(kMessage, sizeof kMessage - 1);
  K2C_StdOutN();
  K2C_StdOutFlush();
  K2C_HALT(9);
}

void installBreakHandler() {
  win32::HANDLE process = win32::GetCurrentProcess();
  win32::BOOL duplicated =
      win32::DuplicateHandle(process, win32::GetCurrentThread(), process, &mainThread, 0,
                             win32::FALSE, win32::DUPLICATE_SAME_ACCESS);
  if (!duplicated) return;
  K2C_SetMainThread(mainThread);
  win32::SetConsoleCtrlHandler(&breakHandler, win32::TRUE);
}

// A private copy: K2C_sysarg points into it for the rest of the run.
char* commandLineCopy() {
  const char* line = win32::GetCommandLineA();
  if (line == nullptr) return nullptr;
  std::size_t length = std::strlen(line);
  auto* copy = static_cast<char*>(processHeapAlloc(length + 1));
  if (copy != nullptr) std::memcpy(copy, line, length + 1);
  return copy;
}

}  // namespace

K2C_SplitResult K2C_SplitCommandLine(char* commandLine) {
  K2C_SplitResult result{0, nullptr, nullptr};
  if (commandLine == nullptr) return result;
  result.sysarg = rawRest(commandLine);
  std::int32_t count = countArguments(commandLine);
  if (count == 0) return result;
  auto* argv = static_cast<char**>(processHeapAlloc(sizeof(char*) * count));
  if (argv == nullptr) return result;
  result.argc = storeArguments(commandLine, argv, count);
  result.argv = result.argc > 0 ? argv : nullptr;
  return result;
}

void K2C_EstablishMain(K2C_MainProc main) {
  mainProcedure = main;
}

void K2C_kStart() {
  // Before anything can make a standard handle (a failed start-up allocation
  // reports on standard error), so that those on a terminal are the console's.
  win32::detail::ConnectConsoleHost();
  K2C_SplitResult split = K2C_SplitCommandLine(commandLineCopy());
  K2C_sysarg = split.sysarg;
  if (split.argc > 0) {
    char* path = executablePath();
    if (path != nullptr) split.argv[0] = path;
  }
  // Until K2C_BEGIN stores them again, the run-time's own messages (the
  // message-box caption) see the arguments as well.
  K2C_argc = split.argc;
  K2C_argv = split.argv;
  win32::SetErrorMode(win32::SEM_FAILCRITICALERRORS);
  win32::SetUnhandledExceptionFilter(&K2C_xFilter);
  K2C_StartExitLimiter();
  installBreakHandler();
  win32::detail::SetDisplayLostHandler(&displayLost);
  K2C_stkScan = nullptr;
  K2C_hisShow = nullptr;
  K2C_StdOutInit(win32::GetStdHandle(win32::STD_ERROR_HANDLE));
  mainProcedure(split.argc, split.argv);
  K2C_EXIT();
}

void kStart(K2C_MainProc main) {
  executableHandle = win32::GetModuleHandleA(nullptr);
  K2C_EstablishMain(main);
  K2C_kStart();
}

win32::HMODULE K2C_GetMyHandle() {
  return executableHandle;
}

const char* K2C_GetProgramName() {
  return K2C_argc > 0 ? K2C_argv[0] : "";
}

std::uint32_t K2C_GetModuleName(win32::HMODULE module, char* buffer, std::uint32_t size) {
  return win32::GetModuleFileNameA(module, buffer, size);
}
