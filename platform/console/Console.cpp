#include "platform/console/Console.h"

#include <termios.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "platform/console/ConsoleInput.h"
#include "platform/console/LineInput.h"
#include "platform/console/TerminalReader.h"
#include "platform/console/TerminalState.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ExceptionsInternal.h"
#include "platform/kernel/FilesInternal.h"
#include "platform/kernel/ProcessInternal.h"

namespace win32 {
namespace {

constexpr DWORD kDefaultOutputMode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
// A console input buffer without a terminal starts as a console does.
constexpr DWORD kDefaultBufferMode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;

// Console modes are per process, like the console's own: one input mode and
// one output mode, whatever handle on the terminal they are set through.
std::mutex modeMutex;
bool inputModeKnown = false;
DWORD inputMode = 0;
DWORD outputMode = kDefaultOutputMode;

std::mutex titleMutex;
std::string* consoleTitle = nullptr;
// The title the process starts with is its path, which the terminal never
// showed: setting that title again shows the terminal's own title again
// instead. The terminal is asked for its own title without waiting; once it
// has told, a title that stands for the terminal's own reads as that.
std::string* firstTitle = nullptr;
bool terminalTitleTaken = false;

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

BOOL failInvalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL setInputMode(int fd, DWORD mode) {
  struct termios settings {};
  if (::tcgetattr(fd, &settings) != 0) return failInvalidHandle();
  detail::TakeTerminal(fd);
  applyModeToSettings(mode, settings);
  if (!detail::SetTerminalSettings(fd, settings)) {
    detail::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  inputMode = mode;
  inputModeKnown = true;
  return TRUE;
}

// Called with titleMutex held.
void takeReportedTitle() {
  if (terminalTitleTaken) return;
  const std::optional<std::string> reported = detail::ReportedTerminalTitle();
  if (!reported) return;
  terminalTitleTaken = true;
  if (!reported->empty() && *consoleTitle == *firstTitle) *consoleTitle = *reported;
}

std::string& title() {
  if (consoleTitle == nullptr) {
    char path[260];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    consoleTitle = new std::string(path, length);
    firstTitle = new std::string(*consoleTitle);
    if (::isatty(STDOUT_FILENO) != 0) detail::AskTerminalTitle();
  }
  takeReportedTitle();
  return *consoleTitle;
}

// The title escape ends at BEL or ESC, so control characters in a title would
// end it early and leave the rest to the terminal as commands.
void showTitleOnTerminal(const std::string& text) {
  if (::isatty(STDOUT_FILENO) == 0) return;
  // The terminal's own title comes back at exit.
  detail::SaveTerminalTitle();
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

// The console input buffer keeps its mode itself; its terminal is read by the
// console host, so only processed input (the terminal's signals) reaches the
// terminal's settings.
BOOL getBufferMode(LPDWORD mode) {
  std::lock_guard lock(modeMutex);
  if (!inputModeKnown) {
    struct termios settings {};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &settings) == 0;
    inputMode = (terminal ? modeFromSettings(settings) : kDefaultBufferMode) | ENABLE_MOUSE_INPUT;
    inputModeKnown = true;
  }
  *mode = inputMode;
  return TRUE;
}

BOOL setBufferMode(const detail::ConsoleInputObject& object, DWORD mode) {
  std::lock_guard lock(modeMutex);
  if (object.hasTerminal() && detail::TerminalReaderRunning()) {
    if (!detail::SetHostSettings((mode & ENABLE_PROCESSED_INPUT) != 0)) {
      detail::SetLastErrorFromErrno(errno);
      return FALSE;
    }
    detail::SetMouseReporting((mode & ENABLE_MOUSE_INPUT) != 0);
  }
  inputMode = mode;
  inputModeKnown = true;
  return TRUE;
}

}  // namespace

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  if (mode == nullptr) return failInvalidHandle();
  if (detail::LookupAs<detail::ConsoleInputObject>(console) != nullptr) return getBufferMode(mode);
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
  // Ctrl+C and the other terminal signals must reach the platform's signal
  // thread, which restores the terminal before the process ends.
  detail::StartConsoleCtrlThread();
  if (auto buffer = detail::ConsoleInputFor(console)) return setBufferMode(*buffer, mode);
  const int fd = terminalDescriptor(console);
  if (fd < 0) return failInvalidHandle();
  std::lock_guard lock(modeMutex);
  if (!isInputDescriptor(fd)) {
    outputMode = mode;
    detail::SetAutoWrap(fd, (mode & ENABLE_WRAP_AT_EOL_OUTPUT) != 0);
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
  bool backToTerminals = false;
  {
    std::lock_guard lock(titleMutex);
    title() = text;
    backToTerminals = *firstTitle == text;
    if (backToTerminals) {
      terminalTitleTaken = false;
      takeReportedTitle();
    }
  }
  if (backToTerminals) {
    detail::ShowSavedTerminalTitle();
  } else {
    showTitleOnTerminal(text);
  }
  return TRUE;
}

namespace detail {

DWORD CurrentInputMode() {
  DWORD mode = 0;
  getBufferMode(&mode);
  return mode;
}

}  // namespace detail
}  // namespace win32
