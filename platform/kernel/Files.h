// Files and standard handles on POSIX file descriptors.
#pragma once

#include "platform/kernel/Handles.h"
#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

inline constexpr DWORD FILE_TYPE_UNKNOWN = 0x0000;
inline constexpr DWORD FILE_TYPE_DISK = 0x0001;
inline constexpr DWORD FILE_TYPE_CHAR = 0x0002;
inline constexpr DWORD FILE_TYPE_PIPE = 0x0003;
inline constexpr DWORD FILE_TYPE_REMOTE = 0x8000;

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

struct OVERLAPPED;

// The process's standard handles start as handles on descriptors 0, 1 and 2.
HANDLE GetStdHandle(DWORD which);
BOOL SetStdHandle(DWORD which, HANDLE handle);

// A terminal or other character device: FILE_TYPE_CHAR; fifo or socket:
// FILE_TYPE_PIPE; regular file: FILE_TYPE_DISK; anything else (including an
// invalid handle, with ERROR_INVALID_HANDLE): FILE_TYPE_UNKNOWN.
DWORD GetFileType(HANDLE file);

// Success sets the last error to 0, or to ERROR_ALREADY_EXISTS when
// CREATE_ALWAYS or OPEN_ALWAYS found the file.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile);
// Reading at end of file succeeds with 0 bytes; a pipe whose writers are gone
// fails with ERROR_BROKEN_PIPE once its data is read. Never alertable.
// Reading a handle opened for writing only (or writing one opened for reading
// only) fails with ERROR_ACCESS_DENIED.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped);
// Writes everything unless an error stops it; a pipe without readers gives
// ERROR_BROKEN_PIPE (SIGPIPE never ends the process); a write past the
// file-size limit fails with ERROR_DISK_FULL (SIGXFSZ is ignored too).
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, OVERLAPPED* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL FlushFileBuffers(HANDLE file);

namespace detail {

// A handle on a descriptor (files, pipes, terminals, the standard handles).
// The base is virtual so that the console input buffer's handle can also name
// its terminal's descriptor.
class FileObject : public virtual KernelObject {
 public:
  FileObject(int fd, bool ownsDescriptor) : fd_(fd), ownsDescriptor_(ownsDescriptor) {}
  ~FileObject() override;
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;
  ObjectKind kind() const override { return ObjectKind::File; }
  int plainDescriptor() const override { return kind() == ObjectKind::File ? fd_ : -1; }
  int descriptor() const { return fd_; }

 private:
  int fd_;
  bool ownsDescriptor_;
};

// Kernel objects other than descriptors that ReadFile, WriteFile and
// GetFileType accept (the console host's buffers). FlushFileBuffers on them
// fails with ERROR_INVALID_HANDLE, as it does for a console.
class StreamObject : public virtual KernelObject {
 public:
  virtual BOOL read(LPVOID buffer, DWORD toRead, LPDWORD read) = 0;
  virtual BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD written) = 0;
  virtual DWORD fileType() const { return FILE_TYPE_CHAR; }
};

// The descriptor behind a file handle, or -1.
int FileDescriptor(HANDLE file);
// A new handle on a descriptor that the handle then owns (closed with it).
HANDLE HandleForDescriptor(int fd);

// The console host opens the console devices "CONIN$" and "CONOUT$" for
// CreateFileA, and gives standard input on a terminal its console input
// handle. Returns INVALID_HANDLE_VALUE with the error set when it cannot.
using ConsoleDeviceOpener = HANDLE (*)(LPCSTR name, DWORD access);
void SetConsoleDeviceOpener(ConsoleDeviceOpener opener);
}  // namespace detail

}  // namespace win32
