// Descriptors behind file handles, and the console devices CreateFileA opens.
#pragma once

#include "platform/kernel/Files.h"
#include "platform/kernel/HandlesInternal.h"

namespace win32::detail {

// A handle on a descriptor (files, pipes, terminals, the standard handles).
// The base is virtual so that the console input buffer's handle can also name
// its terminal's descriptor.
class FileObject : public virtual KernelObject {
 public:
  // `kind` is ConsoleOutput for a terminal that is the console's screen
  // buffer (standard output and error on a terminal, "CONOUT$"): it is
  // written, never read. It is ConsoleInput for the terminal behind the
  // console input buffer, which is read by the buffer alone. Only a File
  // names its descriptor plainly.
  FileObject(int fd, bool ownsDescriptor, ObjectKind kind = ObjectKind::File)
      : fd_(fd), ownsDescriptor_(ownsDescriptor), kind_(kind) {
    if (kind == ObjectKind::File) setPlainDescriptor(fd);
  }
  ~FileObject() override;
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;
  ObjectKind kind() const override { return kind_; }
  int descriptor() const { return fd_; }
  // Opened with neither read nor write access: only its type and position
  // may be asked.
  void denyReadAndWrite() {
    noAccess_ = true;
    setPlainDescriptor(-1);
  }
  bool readAndWriteDenied() const { return noAccess_; }

 private:
  int fd_;
  bool ownsDescriptor_;
  ObjectKind kind_;
  bool noAccess_ = false;
};

// Kernel objects other than descriptors that ReadFile, WriteFile,
// FlushFileBuffers and GetFileType accept (the console host's buffers).
class StreamObject : public virtual KernelObject {
 public:
  virtual BOOL read(LPVOID buffer, DWORD toRead, LPDWORD read) = 0;
  virtual BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD written) = 0;
  // Fails with ERROR_INVALID_HANDLE unless the object says otherwise.
  virtual BOOL flush();
  virtual DWORD fileType() const { return FILE_TYPE_CHAR; }
};

// The descriptor behind a file handle, or -1.
int FileDescriptor(HANDLE file);
// A new handle on a descriptor that the handle then owns (closed with it).
HANDLE HandleForDescriptor(int fd);
// The same for a terminal that is the console's screen buffer.
HANDLE HandleForConsoleOutput(int fd);

// The console host opens the console devices "CONIN$" and "CONOUT$" for
// CreateFileA, and gives standard input on a terminal its console input
// handle. Returns INVALID_HANDLE_VALUE with the error set when it cannot.
// Set at the program's start by the console host's ConnectConsoleHost (the
// kernel knows nothing above it); until then those names are plain files'.
using ConsoleDeviceOpener = HANDLE (*)(LPCSTR name, DWORD access);
void SetConsoleDeviceOpener(ConsoleDeviceOpener opener);
}  // namespace win32::detail
