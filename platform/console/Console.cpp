#include "platform/console/Console.h"

#include <termios.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Exceptions.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Process.h"

namespace win32 {
namespace {

constexpr DWORD kDefaultOutputMode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;

// Console modes are per process, like the console's own: one input mode and
// one output mode, whatever handle on the terminal they are set through.
std::mutex modeMutex;
bool inputModeKnown = false;
DWORD inputMode = 0;
DWORD outputMode = kDefaultOutputMode;

// The terminal's settings from before the first SetConsoleMode, put back by an
// exit hook on every way out (the hook may run in a signal handler: it only
// reads these and calls tcsetattr).
struct termios originalSettings {};
std::atomic<int> restoreDescriptor{-1};

std::mutex titleMutex;
std::string* consoleTitle = nullptr;

void restoreTerminal() {
  const int fd = restoreDescriptor.load();
  if (fd >= 0) ::tcsetattr(fd, TCSANOW, &originalSettings);
}

int terminalDescriptor(HANDLE console) {
  const int fd = detail::FileDescriptor(console);
  return fd >= 0 && ::isatty(fd) ? fd : -1;
}

// Descriptors 0-2 on a terminal are usually all open for reading and writing,
// so standard input is recognised by its number; other handles by access.
bool isInputDescriptor(int fd) {
  return fd == STDIN_FILENO || (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY;
}

DWORD modeFromSettings(const struct termios& settings) {
  DWORD mode = 0;
  if ((settings.c_lflag & ISIG) != 0) mode |= ENABLE_PROCESSED_INPUT;
  if ((settings.c_lflag & ICANON) != 0) mode |= ENABLE_LINE_INPUT;
  if ((settings.c_lflag & ECHO) != 0) mode |= ENABLE_ECHO_INPUT;
  return mode;
}

void applyModeToSettings(DWORD mode, struct termios& settings) {
  auto setFlag = [&settings](tcflag_t flag, bool on) {
    settings.c_lflag = on ? (settings.c_lflag | flag) : (settings.c_lflag & ~flag);
  };
  setFlag(ISIG, (mode & ENABLE_PROCESSED_INPUT) != 0);
  setFlag(ICANON, (mode & ENABLE_LINE_INPUT) != 0);
  setFlag(ECHO, (mode & ENABLE_ECHO_INPUT) != 0);
  if ((mode & ENABLE_LINE_INPUT) == 0) {
    settings.c_cc[VMIN] = 1;  // a read returns as soon as one byte is there
    settings.c_cc[VTIME] = 0;
  }
}

void rememberOriginalSettings(int fd, const struct termios& settings) {
  if (restoreDescriptor.load() >= 0) return;
  // A descriptor of our own: the handle's may be closed and its number reused.
  const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (kept < 0) return;
  originalSettings = settings;
  restoreDescriptor.store(kept);
  detail::AddExitHook(&restoreTerminal);
}

BOOL failInvalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL setInputMode(int fd, DWORD mode) {
  struct termios settings {};
  if (::tcgetattr(fd, &settings) != 0) return failInvalidHandle();
  rememberOriginalSettings(fd, settings);
  applyModeToSettings(mode, settings);
  if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
    detail::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  inputMode = mode;
  inputModeKnown = true;
  return TRUE;
}

std::string& title() {
  if (consoleTitle == nullptr) {
    char path[260];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    consoleTitle = new std::string(path, length);
  }
  return *consoleTitle;
}

// The title escape ends at BEL or ESC, so control characters in a title would
// end it early and leave the rest to the terminal as commands.
void showTitleOnTerminal(const std::string& text) {
  if (::isatty(STDOUT_FILENO) == 0) return;
  std::string escape = "\x1b]2;";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    escape += byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  escape += '\a';
  for (std::size_t done = 0; done < escape.size();) {
    const ssize_t n = ::write(STDOUT_FILENO, escape.data() + done, escape.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  const int fd = terminalDescriptor(console);
  if (fd < 0 || mode == nullptr) return failInvalidHandle();
  std::lock_guard lock(modeMutex);
  if (!isInputDescriptor(fd)) {
    *mode = outputMode;
    return TRUE;
  }
  if (!inputModeKnown) {
    struct termios settings {};
    if (::tcgetattr(fd, &settings) != 0) return failInvalidHandle();
    inputMode = modeFromSettings(settings) | ENABLE_MOUSE_INPUT;
    inputModeKnown = true;
  }
  *mode = inputMode;
  return TRUE;
}

BOOL SetConsoleMode(HANDLE console, DWORD mode) {
  const int fd = terminalDescriptor(console);
  if (fd < 0) return failInvalidHandle();
  // Ctrl+C and the other terminal signals must reach the platform's signal
  // thread, which restores the terminal before the process ends.
  detail::StartConsoleCtrlThread();
  std::lock_guard lock(modeMutex);
  if (!isInputDescriptor(fd)) {
    outputMode = mode;
    return TRUE;
  }
  return setInputMode(fd, mode);
}

DWORD GetConsoleTitleA(LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::lock_guard lock(titleMutex);
  const std::string& text = title();
  const DWORD copied = std::min<DWORD>(static_cast<DWORD>(text.size()), size - 1);
  std::memcpy(buffer, text.data(), copied);
  buffer[copied] = '\0';
  return copied;
}

BOOL SetConsoleTitleA(LPCSTR text) {
  if (text == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    std::lock_guard lock(titleMutex);
    title() = text;
  }
  showTitleOnTerminal(text);
  return TRUE;
}

}  // namespace win32
