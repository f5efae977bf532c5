// Helper program for the console control tests. It sends itself terminal
// signals with kill() (or raises an event directly) and reports which
// control events its handlers saw, as told by its first argument.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/console/Console.h"
#include "platform/kernel/Exceptions.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/ExceptionsInternal.h"
#include "platform/kernel/FilesInternal.h"
#include "platform/kernel/ProcessInternal.h"
#include "tests/support/Scenarios.h"

using namespace win32;

namespace {

HANDLE handled = nullptr;  // set once a handler has answered
HANDLE mainThread = nullptr;

void writeText(const std::string& text) {
  (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

BOOL WINAPI answeringHandler(DWORD event) {
  writeText("event " + std::to_string(event) + "\n");
  SetEvent(handled);
  return TRUE;
}

BOOL WINAPI refusingHandler(DWORD event) {
  writeText("refused " + std::to_string(event) + "\n");
  return FALSE;
}

struct UserBreak : std::runtime_error {
  UserBreak() : std::runtime_error("user break") {}
};

void WINAPI throwUserBreak(ULONG_PTR) {
  throw UserBreak();
}

// The run-time's way: the break reaches the main thread as an APC, which it
// runs at its next alertable wait.
BOOL WINAPI breakToMainThread(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  return QueueUserAPC(&throwUserBreak, mainThread, 0) != 0 ? TRUE : FALSE;
}

int waitUntilHandled() {
  WaitForSingleObject(handled, INFINITE);
  writeText("done\n");
  return 0;
}

int handledInterrupt() {
  SetConsoleCtrlHandler(&answeringHandler, TRUE);
  ::kill(::getpid(), SIGINT);
  return waitUntilHandled();
}

int handlersNewestFirst() {
  SetConsoleCtrlHandler(&answeringHandler, TRUE);
  SetConsoleCtrlHandler(&refusingHandler, TRUE);
  ::kill(::getpid(), SIGTERM);
  return waitUntilHandled();
}

int defaultAction() {
  detail::AddExitHook([] { writeText("exit hook ran\n"); });
  SetConsoleCtrlHandler(&refusingHandler, TRUE);
  ::kill(::getpid(), SIGINT);
  Sleep(INFINITE);
  return 1;
}

// Ctrl+C is ignored; the Ctrl+Break sent after it is handled, and since the
// signals are taken in order, the interrupt has been dealt with by then.
int ignoredInterrupt() {
  SetConsoleCtrlHandler(nullptr, TRUE);
  SetConsoleCtrlHandler(&answeringHandler, TRUE);
  ::kill(::getpid(), SIGINT);
  ::kill(::getpid(), SIGQUIT);
  return waitUntilHandled();
}

int raisedEvent() {
  SetConsoleCtrlHandler(&answeringHandler, TRUE);
  detail::RaiseConsoleCtrlEvent(CTRL_CLOSE_EVENT);
  return waitUntilHandled();
}

int breakIntoMainThread() {
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread, 0,
                       FALSE, DUPLICATE_SAME_ACCESS)) {
    return 3;
  }
  SetConsoleCtrlHandler(&breakToMainThread, TRUE);
  try {
    ::kill(::getpid(), SIGINT);
    SleepEx(INFINITE, TRUE);
  } catch (const UserBreak&) {
    writeText("break caught\n");
    return 0;
  }
  return 1;
}

// Standard output is a terminal here. Its input side is switched to line
// mode; an unanswered Ctrl+C must put the terminal's own settings back before
// the process ends. The older hook runs after the console's restoring one.
struct termios settingsAtStart {};
int terminal = -1;

int restoreOnInterrupt() {
  terminal = ::open(::ttyname(STDOUT_FILENO), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0 || ::tcgetattr(terminal, &settingsAtStart) != 0) return 3;
  detail::AddExitHook([] {
    struct termios now {};
    ::tcgetattr(terminal, &now);
    writeText(now.c_lflag == settingsAtStart.c_lflag ? "terminal restored\n"
                                                     : "terminal not restored\n");
  });
  HANDLE input = detail::HandleForDescriptor(terminal);
  if (!SetConsoleMode(input, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) {
    return 4;
  }
  struct termios changed {};
  ::tcgetattr(terminal, &changed);
  if (changed.c_lflag == settingsAtStart.c_lflag) return 5;
  ::kill(::getpid(), SIGINT);
  Sleep(INFINITE);
  return 1;
}

const testing_support::Scenario<int()> kModes[] = {
    {"handled", &handledInterrupt},   {"order", &handlersNewestFirst},
    {"default", &defaultAction},      {"ignore", &ignoredInterrupt},
    {"raise", &raisedEvent},          {"break", &breakIntoMainThread},
    {"restore", &restoreOnInterrupt},
};

}  // namespace

int main(int argc, char** argv) {
  detail::ConnectConsoleHost();
  handled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return testing_support::ScenarioOrExit(kModes, argc > 1 ? argv[1] : "")();
}
