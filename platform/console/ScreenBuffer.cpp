// The screen buffer is the terminal: its size from the terminal, the cursor
// from a position query, output at a cell with the cursor saved around it.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "platform/console/Console.h"
#include "platform/console/ConsoleInput.h"
#include "platform/console/TerminalReader.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/FilesInternal.h"

namespace win32 {
namespace {

// Long enough for a terminal across a slow link; short enough that a terminal
// that never answers does not stall a line editor noticeably.
constexpr int kCursorReplyWait = 500;
constexpr WORD kDefaultAttributes = 0x07;

// The terminal behind an output handle, or -1 with ERROR_INVALID_HANDLE. The
// console input handle names its terminal too, but it is no screen buffer.
int outputTerminal(HANDLE output) {
  const int fd = detail::FileDescriptor(output);
  if (fd < 0 || ::isatty(fd) == 0 || detail::LookupAs<detail::ConsoleInputObject>(output)) {
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

// The screen buffer is as large as the terminal's window.
COORD bufferSize(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return {80, 24};  // a terminal that does not know its size
  }
  return {static_cast<SHORT>(size.ws_col), static_cast<SHORT>(size.ws_row)};
}

bool inside(COORD position, COORD size) {
  return position.X >= 0 && position.Y >= 0 && position.X < size.X && position.Y < size.Y;
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
  const COORD size = bufferSize(fd);
  const std::optional<COORD> cursor = detail::QueryCursorPosition(kCursorReplyWait);
  if (!cursor) {
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
  }
  const SHORT columns = size.X;
  const SHORT rows = size.Y;
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
  if (!inside(position, bufferSize(fd))) return failParameter();
  return writeAll(fd, moveTo(position));
}

// Control characters would act on the terminal instead of showing: they are
// written as blanks. The text runs on into the next rows and stops at the
// buffer's end; each row is placed on its own, whatever the wrap mode.
BOOL WriteConsoleOutputCharacterA(HANDLE output, LPCSTR text, DWORD length, COORD position,
                                  LPDWORD written) {
  if (written != nullptr) *written = 0;
  const int fd = outputTerminal(output);
  if (fd < 0) return FALSE;
  if (length == 0) return TRUE;  // nothing to place, wherever: Windows looks no further
  const COORD size = bufferSize(fd);
  if (text == nullptr || !inside(position, size)) return failParameter();
  const auto cellsLeft = static_cast<DWORD>(size.X - position.X) +
                         static_cast<DWORD>(size.Y - position.Y - 1) * static_cast<DWORD>(size.X);
  const DWORD count = std::min(length, cellsLeft);
  std::string bytes =
      "\x1b"
      "7";
  for (DWORD i = 0; i < count; ++i) {
    if (i == 0 || position.X == 0) bytes += moveTo(position);
    const auto c = static_cast<unsigned char>(text[i]);
    bytes += c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
    if (++position.X == size.X) {
      position.X = 0;
      ++position.Y;
    }
  }
  bytes +=
      "\x1b"
      "8";
  if (!writeAll(fd, bytes)) return FALSE;
  if (written != nullptr) *written = count;
  return TRUE;
}

// The console takes BEL, BS, TAB, LF and CR as controls and shows every other
// character in a cell of its own; a terminal shows nothing for NUL and the
// other controls, so they are written as blanks and take their cells.
BOOL WriteConsoleA(HANDLE output, const void* buffer, DWORD length, LPDWORD written,
                   LPVOID /*reserved*/) {
  if (written != nullptr) *written = 0;
  const int fd = outputTerminal(output);
  if (fd < 0) return FALSE;
  if (buffer == nullptr && length > 0) return failParameter();
  std::string bytes(static_cast<const char*>(buffer), length);
  for (char& c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool control =
        byte < 0x20 && (byte < '\a' || byte > '\r' || byte == '\v' || byte == '\f');
    if (control || byte == 0x7F) c = ' ';
  }
  if (!writeAll(fd, bytes)) return FALSE;
  if (written != nullptr) *written = length;
  return TRUE;
}

}  // namespace win32
