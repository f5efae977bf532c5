#include "platform/console/LineInput.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/console/InputBuffer.h"
#include "platform/kernel/ErrorsInternal.h"

namespace win32::detail {
namespace {

// Text already taken from the buffer but not yet handed out: the rest of a
// line longer than the caller's read. Owned by whichever thread reads.
struct PendingText {
  std::mutex lock;
  std::string text;
};

PendingText& pending() {
  static auto* only = new PendingText;
  return *only;
}

void echo(const char* text, std::size_t length) {
  if (::isatty(STDOUT_FILENO) == 0) return;
  for (std::size_t done = 0; done < length;) {
    const ssize_t n = ::write(STDOUT_FILENO, text + done, length - done);
    if (n <= 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// The characters a record types: key presses with a character, repeated.
std::string typedBy(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || record.Event.KeyEvent.bKeyDown == 0) return {};
  const char c = record.Event.KeyEvent.uChar.AsciiChar;
  if (c == '\0') return {};
  return std::string(std::max<WORD>(record.Event.KeyEvent.wRepeatCount, 1), c);
}

INPUT_RECORD nextRecord(bool block) {
  INPUT_RECORD record{};
  if (ProcessInputBuffer().take(&record, 1, true, block) == 0) record.EventType = 0;
  return record;
}

// Adds one typed character to the line; true when the line is complete.
bool editLine(std::string& line, char c, bool echoing) {
  if (c == '\r' || c == '\n') {
    line += "\r\n";
    if (echoing) echo("\r\n", 2);
    return true;
  }
  if (c == '\b') {
    if (line.empty()) return false;
    line.pop_back();
    if (echoing) echo("\b \b", 3);
    return false;
  }
  line += c;
  if (echoing) echo(&c, 1);
  return false;
}

std::string readLine(bool echoing) {
  std::string line;
  while (true) {
    for (char c : typedBy(nextRecord(true))) {
      if (editLine(line, c, echoing)) return line;
    }
  }
}

// Without line input: waits for the first character, then takes what else is
// already there.
std::string readCharacters(bool echoing) {
  std::string text;
  while (text.empty()) text = typedBy(nextRecord(true));
  while (ProcessInputBuffer().size() > 0) text += typedBy(nextRecord(false));
  if (echoing) echo(text.data(), text.size());
  return text;
}

}  // namespace

BOOL ReadConsoleText(char* buffer, DWORD toRead, LPDWORD read) {
  if (read != nullptr) *read = 0;
  if (toRead == 0) return TRUE;
  if (buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  PendingText& state = pending();
  std::lock_guard lock(state.lock);
  if (state.text.empty()) {
    const DWORD mode = CurrentInputMode();
    const bool echoing = (mode & ENABLE_ECHO_INPUT) != 0;
    state.text = (mode & ENABLE_LINE_INPUT) != 0 ? readLine(echoing) : readCharacters(echoing);
  }
  const std::size_t n = std::min<std::size_t>(toRead, state.text.size());
  std::memcpy(buffer, state.text.data(), n);
  state.text.erase(0, n);
  if (read != nullptr) *read = static_cast<DWORD>(n);
  return TRUE;
}

}  // namespace win32::detail
