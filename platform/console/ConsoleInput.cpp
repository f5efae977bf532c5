#include "platform/console/ConsoleInput.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "platform/console/InputBuffer.h"
#include "platform/console/LineInput.h"
#include "platform/console/TerminalReader.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/console/Console.h"

namespace win32::detail {
namespace {

// One object for every console input handle: closing one handle leaves the
// others (and the buffer) alone.
std::shared_ptr<ConsoleInputObject>& processConsoleInput() {
  static auto* object = new std::shared_ptr<ConsoleInputObject>(
      std::make_shared<ConsoleInputObject>(::isatty(STDIN_FILENO) != 0 ? STDIN_FILENO : -1));
  return *object;
}

void attachTerminal(const ConsoleInputObject& object) {
  if (!object.hasTerminal()) return;
  StartTerminalReader(object.descriptor());
}

// The console's output is the terminal standard output names, or the
// controlling terminal when standard output goes elsewhere.
HANDLE openConsoleOutput() {
  int fd = ::isatty(STDOUT_FILENO) != 0 ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                                        : ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return HandleForConsoleOutput(fd);
}

}  // namespace

// A wait may be the first use of the handle (the wait lock is held here; the
// reader takes it only later, from its own thread).
bool ConsoleInputObject::tryAcquire(DWORD, bool&) {
  attachTerminal(*this);
  return ProcessInputBuffer().signalledLocked();
}

BOOL ConsoleInputObject::read(LPVOID buffer, DWORD toRead, LPDWORD read) {
  attachTerminal(*this);
  return ReadConsoleText(static_cast<char*>(buffer), toRead, read);
}

BOOL ConsoleInputObject::flush() {
  attachTerminal(*this);
  DiscardTerminalInput();
  return TRUE;
}

BOOL ConsoleInputObject::write(LPCVOID, DWORD, LPDWORD) {
  SetLastError(ERROR_ACCESS_DENIED);  // records are written with WriteConsoleInputA
  return FALSE;
}

std::shared_ptr<ConsoleInputObject> ConsoleInputFor(HANDLE handle) {
  auto object = LookupAs<ConsoleInputObject>(handle);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  attachTerminal(*object);
  return object;
}

HANDLE OpenConsoleDevice(LPCSTR name, DWORD /*access*/) {
  if (::strcasecmp(name, "CONOUT$") == 0) return openConsoleOutput();
  HANDLE input = InsertObject(processConsoleInput());
  return input != nullptr ? input : INVALID_HANDLE_VALUE;
}

void ConnectConsoleHost() {
  SetConsoleDeviceOpener(&OpenConsoleDevice);
}

}  // namespace win32::detail

namespace win32 {
namespace {

// The handle's input buffer, or null with ERROR_INVALID_HANDLE; also a
// record pointer that is null while records are asked for.
detail::InputBuffer* bufferFor(HANDLE input, const void* records, DWORD length) {
  if (detail::ConsoleInputFor(input) == nullptr) return nullptr;
  if (records == nullptr && length > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &detail::ProcessInputBuffer();
}

BOOL takeRecords(HANDLE input, INPUT_RECORD* buffer, DWORD length, LPDWORD read, bool remove,
                 bool block) {
  if (read != nullptr) *read = 0;
  detail::InputBuffer* records = bufferFor(input, buffer, length);
  if (records == nullptr || read == nullptr) {
    if (records != nullptr) SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *read = static_cast<DWORD>(records->take(buffer, length, remove, block));
  return TRUE;
}

}  // namespace

// Waits until at least one record is there (a length of 0 returns at once).
BOOL ReadConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, LPDWORD read) {
  return takeRecords(input, buffer, length, read, true, true);
}

BOOL PeekConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, LPDWORD read) {
  return takeRecords(input, buffer, length, read, false, false);
}

BOOL GetNumberOfConsoleInputEvents(HANDLE input, LPDWORD count) {
  detail::InputBuffer* records = bufferFor(input, nullptr, 0);
  if (records == nullptr) return FALSE;
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *count = static_cast<DWORD>(records->size());
  return TRUE;
}

// Records that do not fit any more are refused with ERROR_NOT_ENOUGH_MEMORY;
// the count written says how many went in. Records to be read from nowhere
// are ERROR_NOACCESS, as a fault on reading them is on Windows: the records
// are read before the handle is looked at, so that comes first.
BOOL WriteConsoleInputA(HANDLE input, const INPUT_RECORD* buffer, DWORD length, LPDWORD written) {
  if (written != nullptr) *written = 0;
  if (buffer == nullptr && length > 0) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  detail::InputBuffer* records = bufferFor(input, nullptr, 0);
  if (records == nullptr) return FALSE;
  // A mouse move written alone takes the place of a move still queued last.
  const auto added = static_cast<DWORD>(length == 1 ? records->appendMergingMove(*buffer)
                                                    : records->append(buffer, length));
  if (written != nullptr) *written = added;
  if (added < length) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

BOOL FlushConsoleInputBuffer(HANDLE input) {
  if (bufferFor(input, nullptr, 0) == nullptr) return FALSE;
  detail::DiscardTerminalInput();
  return TRUE;
}

}  // namespace win32
