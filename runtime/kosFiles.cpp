// Handle-level file operations for the channel devices; every one returns
// the operating system's error code unchanged (0 = success).
#include "runtime/kosFiles.h"

#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"

namespace {

win32::DWORD stdHandleFor(std::uint32_t selector) {
  switch (selector) {
    case 0:
      return win32::STD_INPUT_HANDLE;
    case 1:
      return win32::STD_OUTPUT_HANDLE;
    default:
      return win32::STD_ERROR_HANDLE;
  }
}

win32::DWORD seekMethodFor(std::uint32_t origin) {
  switch (origin) {
    case 0:
      return win32::FILE_BEGIN;
    case 1:
      return win32::FILE_CURRENT;
    default:
      return win32::FILE_END;
  }
}

// All ones is also a valid low word of a position, so the error code is
// cleared first: only a code set by this call means failure.
std::uint32_t movePointer(win32::HANDLE handle, FilePos& pos, win32::LONG distance,
                          win32::LONG high, win32::DWORD method) {
  win32::SetLastError(win32::ERROR_SUCCESS);
  win32::DWORD low = win32::SetFilePointer(handle, distance, &high, method);
  if (low == win32::INVALID_SET_FILE_POINTER) {
    win32::DWORD error = win32::GetLastError();
    if (error != win32::ERROR_SUCCESS) return error;
  }
  pos.high = static_cast<std::uint32_t>(high);
  pos.low = low;
  return 0;
}

}  // namespace

bool K2C_IsMixAllowed() {
  return true;
}

std::uint32_t K2C_fGetStd(win32::HANDLE& handle, std::uint32_t selector) {
  win32::HANDLE std = win32::GetStdHandle(stdHandleFor(selector));
  if (std == win32::INVALID_HANDLE_VALUE) return win32::GetLastError();
  handle = std;
  return 0;
}

std::uint32_t K2C_fSetStd(win32::HANDLE handle, std::uint32_t selector) {
  if (win32::SetStdHandle(stdHandleFor(selector), handle)) return 0;
  return win32::GetLastError();
}

std::uint32_t K2C_fGetFileType(win32::HANDLE handle) {
  switch (win32::GetFileType(handle) & ~win32::FILE_TYPE_REMOTE) {
    case win32::FILE_TYPE_DISK:
      return K2C_FILE_DISK;
    case win32::FILE_TYPE_CHAR:
      return K2C_FILE_CHAR;
    case win32::FILE_TYPE_PIPE:
      return K2C_FILE_PIPE;
    default:
      return K2C_FILE_OTHER;
  }
}

std::uint32_t K2C_fRead(win32::HANDLE handle, void* buffer, std::uint32_t count,
                        std::uint32_t& read) {
  win32::DWORD done = 0;
  win32::BOOL ok = win32::ReadFile(handle, buffer, count, &done, nullptr);
  read = done;
  return ok ? 0 : win32::GetLastError();
}

std::uint32_t K2C_fSeek(win32::HANDLE handle, FilePos& pos, std::uint32_t origin) {
  return movePointer(handle, pos, static_cast<win32::LONG>(pos.low),
                     static_cast<win32::LONG>(pos.high), seekMethodFor(origin));
}

std::uint32_t K2C_fTell(win32::HANDLE handle, FilePos& pos) {
  return movePointer(handle, pos, 0, 0, win32::FILE_CURRENT);
}

// A handle that cannot be flushed (a console, a pipe) is no error here.
std::uint32_t K2C_fFlush(win32::HANDLE handle) {
  if (win32::FlushFileBuffers(handle)) return 0;
  win32::DWORD error = win32::GetLastError();
  return error == win32::ERROR_INVALID_HANDLE ? 0 : error;
}
