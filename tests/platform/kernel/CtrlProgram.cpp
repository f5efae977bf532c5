// Helper program for the console control tests. It sends itself terminal
// signals with kill() (or raises an event directly) and reports which
// control events its handlers saw, as told by its first argument.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/kernel/Exceptions.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"

using namespace win32;

namespace {

HANDLE handled = nullptr;  // set once a handler has answered
HANDLE mainThread = nullptr;

void writeText(const std::string& text) {
  (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

BOOL answeringHandler(DWORD event) {
  writeText("event " + std::to_string(event) + "\n");
  SetEvent(handled);
  return TRUE;
}

BOOL refusingHandler(DWORD event) {
  writeText("refused " + std::to_string(event) + "\n");
  return FALSE;
}

struct UserBreak : std::runtime_error {
  UserBreak() : std::runtime_error("user break") {}
};

void throwUserBreak(ULONG_PTR) {
  throw UserBreak();
}

// The run-time's way: the break reaches the main thread as an APC, which it
// runs at its next wait.
BOOL breakToMainThread(DWORD event) {
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
    Sleep(INFINITE);
  } catch (const UserBreak&) {
    writeText("break caught\n");
    return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  handled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "handled") return handledInterrupt();
  if (mode == "order") return handlersNewestFirst();
  if (mode == "default") return defaultAction();
  if (mode == "ignore") return ignoredInterrupt();
  if (mode == "raise") return raisedEvent();
  if (mode == "break") return breakIntoMainThread();
  writeText("unknown mode\n");
  return 2;
}
