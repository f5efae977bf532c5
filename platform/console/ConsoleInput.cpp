#include "platform/console/ConsoleInput.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "platform/console/InputBuffer.h"
#include "platform/console/LineInput.h"
#include "platform/console/TerminalReader.h"
#include "platform/kernel/Errors.h"

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
  return HandleForDescriptor(fd);
}

struct RegisterOpener {
  RegisterOpener() { SetConsoleDeviceOpener(&OpenConsoleDevice); }
} registerOpener;

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
  return InsertObject(processConsoleInput());
}

}  // namespace win32::detail
