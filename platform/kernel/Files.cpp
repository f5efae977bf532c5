#include "platform/kernel/FilesInternal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <strings.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/kernel/ErrorsInternal.h"

namespace win32 {
namespace {

// A write to a pipe without readers must come back as ERROR_BROKEN_PIPE, and a
// write past the file-size limit as ERROR_DISK_FULL, never end the process,
// whichever code path (ours or a library's) does the write: the program then
// reports the failure and ends in order.
struct IgnoreWriteFailureSignals {
  IgnoreWriteFailureSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
  }
} ignoreWriteFailureSignals;

std::atomic<detail::ConsoleDeviceOpener> consoleDeviceOpener{nullptr};

bool isConsoleDeviceName(LPCSTR name) {
  return ::strcasecmp(name, "CONIN$") == 0 || ::strcasecmp(name, "CONOUT$") == 0;
}

// Standard input on a terminal is the console's input buffer, and standard
// output and error on one its screen buffer, as they are on a console; every
// other standard handle names its descriptor.
HANDLE makeStandardHandle(int slot) {
  const detail::ConsoleDeviceOpener opener = consoleDeviceOpener.load();
  const bool console = opener != nullptr && ::isatty(slot) != 0;
  if (slot == STDIN_FILENO && console) {
    const HANDLE input = opener("CONIN$", GENERIC_READ | GENERIC_WRITE);
    if (input != INVALID_HANDLE_VALUE) return input;
  }
  const auto kind = console && slot != STDIN_FILENO ? detail::ObjectKind::ConsoleOutput
                                                    : detail::ObjectKind::File;
  return detail::InsertObject(std::make_shared<detail::FileObject>(slot, false, kind));
}

// Handles 0, 1 and 2 are made on first use; SetStdHandle replaces them.
class StandardHandles {
 public:
  HANDLE get(int slot) {
    std::lock_guard lock(mutex_);
    if (!made_[slot]) {
      made_[slot] = true;
      // The standard descriptors stay open when their handles are closed: the
      // terminal is still restored through them at exit.
      if (::fcntl(slot, F_GETFD) != -1) handles_[slot] = makeStandardHandle(slot);
    }
    return handles_[slot];
  }

  void set(int slot, HANDLE handle) {
    std::lock_guard lock(mutex_);
    made_[slot] = true;
    handles_[slot] = handle;
  }

 private:
  std::mutex mutex_;
  bool made_[3] = {};
  HANDLE handles_[3] = {};
};

StandardHandles& standardHandles() {
  static StandardHandles* instance = new StandardHandles;
  return *instance;
}

int standardSlot(DWORD which) {
  if (which == STD_INPUT_HANDLE) return 0;
  if (which == STD_OUTPUT_HANDLE) return 1;
  if (which == STD_ERROR_HANDLE) return 2;
  return -1;
}

BOOL failWith(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL failWithErrno(int err) {
  detail::SetLastErrorFromErrno(err);
  return FALSE;
}

void storeCount(LPDWORD count, DWORD value) {
  if (count != nullptr) *count = value;
}

int accessFlags(DWORD access) {
  const bool reads = (access & GENERIC_READ) != 0;
  const bool writes = (access & GENERIC_WRITE) != 0;
  if (reads && writes) return O_RDWR;
  return writes ? O_WRONLY : O_RDONLY;
}

// The open(2) flags of a creation disposition, or -1 for an unknown one.
int creationFlags(DWORD creation) {
  switch (creation) {
    case CREATE_NEW:
      return O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
      return O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
      return 0;
    case OPEN_ALWAYS:
      return O_CREAT;
    case TRUNCATE_EXISTING:
      return O_TRUNC;
    default:
      return -1;
  }
}

int openRetrying(LPCSTR name, int flags) {
  int fd;
  do {
    fd = ::open(name, flags | O_CLOEXEC | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// CREATE_ALWAYS and OPEN_ALWAYS report with ERROR_ALREADY_EXISTS that the file
// was there before, as Windows does; every other success leaves 0.
int openWithDisposition(LPCSTR name, int baseFlags, DWORD creation) {
  const int flags = baseFlags | creationFlags(creation);
  if (creation != CREATE_ALWAYS && creation != OPEN_ALWAYS) {
    const int fd = openRetrying(name, flags);
    if (fd >= 0) SetLastError(ERROR_SUCCESS);
    return fd;
  }
  int fd = openRetrying(name, flags | O_EXCL);
  if (fd >= 0) {
    SetLastError(ERROR_SUCCESS);
    return fd;
  }
  if (errno != EEXIST) return -1;
  fd = openRetrying(name, flags);
  if (fd >= 0) SetLastError(ERROR_ALREADY_EXISTS);
  return fd;
}

bool isRegularFile(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

bool isPipe(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}

// A handle used against the direction it was opened for is refused with
// ERROR_ACCESS_DENIED, as on Windows, before anything else is looked at (a
// zero-byte transfer too). A descriptor that is not open at all stays
// ERROR_INVALID_HANDLE.
bool openedFor(int fd, int direction, DWORD& error) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) {
    error = detail::ErrorFromErrno(errno);
    return false;
  }
  const int mode = flags & O_ACCMODE;
  if (mode == O_RDWR || mode == direction) return true;
  error = ERROR_ACCESS_DENIED;
  return false;
}

DWORD fileTypeOfDescriptor(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    detail::SetLastErrorFromErrno(errno);
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  if (S_ISCHR(status.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FILE_TYPE_PIPE;
  if (S_ISREG(status.st_mode)) return FILE_TYPE_DISK;
  return FILE_TYPE_UNKNOWN;
}

// Returns when the descriptor is readable (data, end of input or an error).
// Not alertable: on Windows a plain ReadFile runs no APC either.
void waitReadable(int fd) {
  pollfd readable{fd, POLLIN, 0};
  while (::poll(&readable, 1, -1) < 0 && errno == EINTR) {
  }
}

// Regular files never block; anything else (pipe, terminal, socket) waits
// until readable first, so that a descriptor someone made non-blocking does
// not make the read spin. The end of a pipe is ERROR_BROKEN_PIPE, as on
// Windows, so that `while (ReadFile(...))` ends; a file or terminal at its end
// reads 0 bytes.
BOOL readDescriptor(int fd, LPVOID buffer, DWORD toRead, LPDWORD read) {
  const bool mayBlock = !isRegularFile(fd);
  while (true) {
    if (mayBlock) waitReadable(fd);
    const ssize_t n = ::read(fd, buffer, toRead);
    if (n == 0 && isPipe(fd)) return failWith(ERROR_BROKEN_PIPE);
    if (n >= 0) {
      storeCount(read, static_cast<DWORD>(n));
      return TRUE;
    }
    if (errno == EINTR || (mayBlock && errno == EAGAIN)) continue;
    return failWithErrno(errno);
  }
}

// The system call itself: write(2) of the C library is also a point where
// pthread_cancel may end the thread, which costs two calls around every
// write once the process has threads. No thread is ever cancelled here.
// On x86-64 the call is made right here: the C library's syscall(2) would
// add a frame, and every return on the way back from the kernel is
// mispredicted. The kernel answers a failure with -errno, which goes to
// errno as that wrapper would put it.
ssize_t writeOnce(int fd, const char* bytes, DWORD count) {
#if defined(__x86_64__)
  long result = SYS_write;
  asm volatile("syscall"
               : "+a"(result)
               : "D"(static_cast<long>(fd)), "S"(bytes), "d"(static_cast<unsigned long>(count))
               : "rcx", "r11", "memory");
  if (result < 0) {
    errno = static_cast<int>(-result);
    return -1;
  }
  return result;
#else
  return ::syscall(SYS_write, fd, bytes, count);
#endif
}

// A descriptor opened for reading only answers the write with EBADF, as a
// closed one does: which of the two it was is asked only then, so that a
// write costs the one system call.
BOOL writeDescriptor(int fd, LPCVOID buffer, DWORD toWrite, LPDWORD written) {
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    const ssize_t n = writeOnce(fd, bytes + done, toWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      storeCount(written, done);
      if (DWORD error = 0; err == EBADF && !openedFor(fd, O_WRONLY, error)) return failWith(error);
      return failWithErrno(err);
    }
    done += static_cast<DWORD>(n);
  }
  storeCount(written, done);
  return TRUE;
}

int seekOrigin(DWORD method) {
  switch (method) {
    case FILE_BEGIN:
      return SEEK_SET;
    case FILE_CURRENT:
      return SEEK_CUR;
    case FILE_END:
      return SEEK_END;
    default:
      return -1;
  }
}

DWORD failSeek(DWORD code) {
  SetLastError(code);
  return INVALID_SET_FILE_POINTER;
}

}  // namespace

namespace detail {

FileObject::~FileObject() {
  if (ownsDescriptor_) ::close(fd_);
}

int FileDescriptor(HANDLE file) {
  auto object = LookupAs<FileObject>(file);
  return object == nullptr ? -1 : object->descriptor();
}

HANDLE HandleForDescriptor(int fd) {
  return InsertObject(std::make_shared<FileObject>(fd, true));
}

BOOL StreamObject::flush() {
  return failWith(ERROR_INVALID_HANDLE);
}

HANDLE HandleForConsoleOutput(int fd) {
  return InsertObject(std::make_shared<FileObject>(fd, true, ObjectKind::ConsoleOutput));
}

void SetConsoleDeviceOpener(ConsoleDeviceOpener opener) {
  consoleDeviceOpener.store(opener);
}

}  // namespace detail

HANDLE GetStdHandle(DWORD which) {
  const int slot = standardSlot(which);
  if (slot < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  return standardHandles().get(slot);
}

BOOL SetStdHandle(DWORD which, HANDLE handle) {
  const int slot = standardSlot(which);
  if (slot < 0) return failWith(ERROR_INVALID_HANDLE);
  standardHandles().set(slot, handle);
  return TRUE;
}

// A console buffer may also name its terminal's descriptor; it answers for
// itself, also when it has no terminal.
DWORD GetFileType(HANDLE file) {
  detail::KernelObjectPtr object = detail::LookupObject(file);
  if (auto stream = std::dynamic_pointer_cast<detail::StreamObject>(object)) {
    SetLastError(ERROR_SUCCESS);
    return stream->fileType();
  }
  if (auto descriptor = std::dynamic_pointer_cast<detail::FileObject>(object)) {
    return fileTypeOfDescriptor(descriptor->descriptor());
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FILE_TYPE_UNKNOWN;
}

// The share mode has no counterpart on Linux (files are always shared) and
// the attributes and template are not used.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*security*/, DWORD creation, DWORD flagsAndAttributes,
                   HANDLE /*templateFile*/) {
  const detail::ConsoleDeviceOpener opener = consoleDeviceOpener.load();
  if (name != nullptr && opener != nullptr && isConsoleDeviceName(name)) {
    return opener(name, access);
  }
  const bool truncatesWithoutWriting =
      creation == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0;
  if (name == nullptr || creationFlags(creation) < 0 || truncatesWithoutWriting) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool nameItself = (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
  const int fd = openWithDisposition(
      name, accessFlags(access) | (nameItself ? O_NOFOLLOW | O_NONBLOCK : 0), creation);
  if (fd < 0) {
    detail::SetLastErrorFromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);  // a directory is not a file to read or write
    return INVALID_HANDLE_VALUE;
  }
  if (nameItself) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto object = std::make_shared<detail::FileObject>(fd, true);
  if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0) object->denyReadAndWrite();
  HANDLE file = detail::InsertObject(std::move(object));  // on failure the object closes fd
  return file != nullptr ? file : INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* /*overlapped*/) {
  storeCount(read, 0);
  detail::KernelObjectPtr object = detail::LookupObject(file);
  if (auto stream = std::dynamic_pointer_cast<detail::StreamObject>(object)) {
    return stream->read(buffer, toRead, read);
  }
  auto descriptor = std::dynamic_pointer_cast<detail::FileObject>(object);
  if (descriptor == nullptr || descriptor->kind() == detail::ObjectKind::ConsoleOutput) {
    return failWith(ERROR_INVALID_HANDLE);
  }
  if (descriptor->readAndWriteDenied()) return failWith(ERROR_ACCESS_DENIED);
  if (DWORD error = 0; !openedFor(descriptor->descriptor(), O_RDONLY, error)) {
    return failWith(error);
  }
  if (toRead == 0) return TRUE;
  if (buffer == nullptr) return failWith(ERROR_INVALID_PARAMETER);
  return readDescriptor(descriptor->descriptor(), buffer, toRead, read);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               OVERLAPPED* /*overlapped*/) {
  storeCount(written, 0);
  // A plain descriptor's handle, the common case, costs no search of the
  // class hierarchy.
  const detail::PinnedObject object(file);
  if (object.get() == nullptr) return FALSE;
  int fd = object.get()->plainDescriptor();
  if (fd < 0) {
    if (auto* stream = dynamic_cast<detail::StreamObject*>(object.get())) {
      return stream->write(buffer, toWrite, written);
    }
    auto* descriptor = dynamic_cast<detail::FileObject*>(object.get());
    if (descriptor == nullptr) return failWith(ERROR_INVALID_HANDLE);
    if (descriptor->readAndWriteDenied()) return failWith(ERROR_ACCESS_DENIED);
    fd = descriptor->descriptor();
  }
  if (toWrite != 0 && buffer != nullptr) return writeDescriptor(fd, buffer, toWrite, written);
  if (DWORD error = 0; !openedFor(fd, O_WRONLY, error)) {
    return failWith(error);
  }
  if (toWrite == 0) return TRUE;
  return failWith(ERROR_INVALID_PARAMETER);
}

// With distanceHigh the distance is the 64-bit value high:low and the new
// position's high word comes back through it; without it the distance is a
// signed 32-bit value and a position that does not fit in 32 bits is refused (the file
// pointer then stays where it was).
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  const int fd = detail::FileDescriptor(file);
  if (fd < 0) return failSeek(ERROR_INVALID_HANDLE);
  const int origin = seekOrigin(method);
  if (origin < 0) return failSeek(ERROR_INVALID_PARAMETER);
  off_t offset = distance;
  if (distanceHigh != nullptr) {
    const auto high = static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh));
    offset = static_cast<off_t>((high << 32) | static_cast<std::uint32_t>(distance));
  }
  const off_t before = ::lseek(fd, 0, SEEK_CUR);
  if (before < 0) return failSeek(detail::ErrorFromErrno(errno));
  const off_t position = ::lseek(fd, offset, origin);
  if (position < 0) {
    return failSeek(errno == EINVAL ? ERROR_NEGATIVE_SEEK : detail::ErrorFromErrno(errno));
  }
  if (distanceHigh == nullptr && position >= static_cast<off_t>(INVALID_SET_FILE_POINTER)) {
    ::lseek(fd, before, SEEK_SET);
    return failSeek(ERROR_INVALID_PARAMETER);
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(position >> 32);
  // Callers tell a position whose low word is all ones from a failure by the
  // error code, so success leaves it at 0.
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(position & 0xFFFFFFFF);
}

BOOL SetEndOfFile(HANDLE file) {
  const int fd = detail::FileDescriptor(file);
  if (fd < 0) return failWith(ERROR_INVALID_HANDLE);
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0) return failWith(detail::ErrorFromErrno(errno));
  if (::ftruncate(fd, position) != 0) return failWith(detail::ErrorFromErrno(errno));
  return TRUE;
}

// fsync refuses pipes and terminals with EINVAL; Windows answers a flush of a
// console's screen buffer with ERROR_INVALID_HANDLE, and so does this.
BOOL FlushFileBuffers(HANDLE file) {
  detail::KernelObjectPtr object = detail::LookupObject(file);
  if (auto stream = std::dynamic_pointer_cast<detail::StreamObject>(object)) return stream->flush();
  const int fd = detail::FileDescriptor(file);
  if (fd < 0) return failWith(ERROR_INVALID_HANDLE);
  if (::fsync(fd) == 0) return TRUE;
  return failWith(errno == EINVAL ? ERROR_INVALID_HANDLE : detail::ErrorFromErrno(errno));
}

}  // namespace win32
