// The screen buffer is the terminal: its size from the terminal, the cursor
// from a position query, output at a cell with the cursor saved around it.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "platform/console/Console.h"
#include "platform/console/TerminalReader.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/FilesInternal.h"

namespace win32 {
namespace {

// Long enough for a terminal across a slow link; short enough that a terminal
// that never answers does not stall a line editor noticeably.
constexpr int kCursorReplyWait = 500;
constexpr WORD kDefaultAttributes = 0x07;

// The terminal behind an output handle, or -1 with ERROR_INVALID_HANDLE.
int outputTerminal(HANDLE output) {
  const int fd = detail::FileDescriptor(output);
  if (fd < 0 || ::isatty(fd) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return fd;
}

BOOL writeAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      detail::SetLastErrorFromErrno(errno);
      return FALSE;
    }
    done += static_cast<std::size_t>(n);
  }
  return TRUE;
}

std::string moveTo(COORD position) {
  return "\x1b[" + std::to_string(position.Y + 1) + ";" + std::to_string(position.X + 1) + "H";
}

BOOL failParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace

// Fails with ERROR_TIMEOUT when the terminal does not tell where its cursor
// is (nothing reads the terminal, or no reply in time).
BOOL GetConsoleScreenBufferInfo(HANDLE output, CONSOLE_SCREEN_BUFFER_INFO* info) {
  const int fd = outputTerminal(output);
  if (fd < 0) return FALSE;
  if (info == nullptr) return failParameter();
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    size.ws_col = 80;  // a terminal that does not know its size
    size.ws_row = 24;
  }
  const std::optional<COORD> cursor = detail::QueryCursorPosition(kCursorReplyWait);
  if (!cursor) {
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
  }
  const auto columns = static_cast<SHORT>(size.ws_col);
  const auto rows = static_cast<SHORT>(size.ws_row);
  info->dwSize = {columns, rows};
  info->dwCursorPosition = *cursor;
  info->wAttributes = kDefaultAttributes;
  info->srWindow = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
  info->dwMaximumWindowSize = {columns, rows};
  return TRUE;
}

BOOL SetConsoleCursorPosition(HANDLE output, COORD position) {
  const int fd = outputTerminal(output);
  if (fd < 0) return FALSE;
  if (position.X < 0 || position.Y < 0) return failParameter();
  return writeAll(fd, moveTo(position));
}

// Control characters would act on the terminal instead of showing: they are
// written as blanks.
BOOL WriteConsoleOutputCharacterA(HANDLE output, LPCSTR text, DWORD length, COORD position,
                                  LPDWORD written) {
  if (written != nullptr) *written = 0;
  const int fd = outputTerminal(output);
  if (fd < 0) return FALSE;
  if ((text == nullptr && length > 0) || position.X < 0 || position.Y < 0) return failParameter();
  std::string bytes =
      "\x1b"
      "7" +
      moveTo(position);
  for (DWORD i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    bytes += c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
  }
  bytes +=
      "\x1b"
      "8";
  if (!writeAll(fd, bytes)) return FALSE;
  if (written != nullptr) *written = length;
  return TRUE;
}

BOOL WriteConsoleA(HANDLE output, const void* buffer, DWORD length, LPDWORD written,
                   LPVOID /*reserved*/) {
  if (written != nullptr) *written = 0;
  const int fd = outputTerminal(output);
  if (fd < 0) return FALSE;
  if (buffer == nullptr && length > 0) return failParameter();
  if (!writeAll(fd, std::string(static_cast<const char*>(buffer), length))) return FALSE;
  if (written != nullptr) *written = length;
  return TRUE;
}

}  // namespace win32
