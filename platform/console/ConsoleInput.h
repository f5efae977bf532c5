// The console input handle: GetStdHandle(STD_INPUT_HANDLE) when standard
// input is a terminal, and CreateFileA("CONIN$", ...) always (also when
// standard input is a file or a pipe: the buffer is then fed by
// WriteConsoleInputA alone). Every such handle names the process's one input
// buffer; it is signalled while a record is there, GetFileType calls it
// FILE_TYPE_CHAR, and ReadFile reads it as text.
#pragma once

#include <memory>

#include "platform/kernel/FilesInternal.h"
#include "platform/kernel/SyncInternal.h"

namespace win32::detail {

class ConsoleInputObject : public FileObject, public WaitableObject, public StreamObject {
 public:
  // `terminal` is the terminal's descriptor that feeds the buffer, or -1.
  explicit ConsoleInputObject(int terminal)
      : FileObject(terminal, false, ObjectKind::ConsoleInput) {}
  bool tryAcquire(DWORD threadId, bool& abandoned) override;
  BOOL read(LPVOID buffer, DWORD toRead, LPDWORD read) override;
  BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD written) override;
  BOOL flush() override;
  bool hasTerminal() const { return descriptor() >= 0; }
};

// The console input object behind a handle, or null with ERROR_INVALID_HANDLE.
// Its terminal (if any) is being read from then on.
std::shared_ptr<ConsoleInputObject> ConsoleInputFor(HANDLE handle);

// The opener CreateFileA uses for "CONIN$" and "CONOUT$" (handed to the
// kernel by ConnectConsoleHost).
HANDLE OpenConsoleDevice(LPCSTR name, DWORD access);

}  // namespace win32::detail
