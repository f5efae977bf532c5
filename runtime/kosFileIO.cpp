// The run-time's own files and its direct output path for reports.
#include "runtime/kosFileIO.h"

#include <algorithm>
#include <cstring>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/user/User.h"
#include "runtime/krnStart.h"

namespace {

constexpr std::uint32_t kBufferSize = 1024;

// The run-time's report output. stdOutHandle is set by start-up on the main
// thread before any other thread of the run-time's exists. The buffer (used
// only without a handle, for the message box) takes no lock: a report is
// written by the thread that owns the exit (a break reported from the
// control thread and a lost display begin an exit first), and the exit gate
// lets one owner through at a time. The one exception is the limiter's
// finisher, which writes its line at the bound while a stalled owner may
// still be writing: a mixed report then is better than waiting on a thread
// that does not finish.
win32::HANDLE stdOutHandle = win32::INVALID_HANDLE_VALUE;
char stdOutBuffer[kBufferSize];
std::uint32_t stdOutCount = 0;

std::uint32_t openFile(win32::HANDLE& handle, const char* path, win32::DWORD access,
                       win32::DWORD creation) {
  win32::HANDLE file =
      win32::CreateFileA(path, access, win32::FILE_SHARE_READ, nullptr, creation, 0, nullptr);
  if (file == win32::INVALID_HANDLE_VALUE) return 1;
  handle = file;
  return 0;
}

const char* messageCaption() {
  return K2C_argc > 0 && K2C_argv != nullptr ? K2C_argv[0] : "Application Error";
}

}  // namespace

std::uint32_t K2C_FileOpenRW(win32::HANDLE& handle, const char* path) {
  return openFile(handle, path, win32::GENERIC_READ | win32::GENERIC_WRITE, win32::OPEN_EXISTING);
}

std::uint32_t K2C_FileOpenWrite(win32::HANDLE& handle, const char* path) {
  return openFile(handle, path, win32::GENERIC_WRITE, win32::CREATE_ALWAYS);
}

std::uint32_t K2C_FileClose(win32::HANDLE handle) {
  return win32::CloseHandle(handle) ? 0 : 1;
}

std::uint32_t K2C_FileSeek(win32::HANDLE handle, std::uint32_t& position, std::uint32_t origin) {
  win32::SetLastError(win32::ERROR_SUCCESS);
  win32::DWORD result =
      win32::SetFilePointer(handle, static_cast<win32::LONG>(position), nullptr, origin);
  if (result == win32::INVALID_SET_FILE_POINTER && win32::GetLastError() != win32::ERROR_SUCCESS) {
    return 1;
  }
  position = result;
  return 0;
}

std::uint32_t K2C_FileWrite(win32::HANDLE handle, const void* buffer, std::uint32_t& count) {
  win32::DWORD written = 0;
  win32::BOOL ok = win32::WriteFile(handle, buffer, count, &written, nullptr);
  count = written;
  return ok ? 0 : 1;
}

void K2C_StdOutInit(win32::HANDLE handle) {
  stdOutHandle = handle;
  stdOutCount = 0;
}

void K2C_StdOut(const char* text, std::uint32_t count) {
  if (count == 0) return;
  if (stdOutHandle != win32::INVALID_HANDLE_VALUE) {
    win32::DWORD written = 0;
    win32::WriteFile(stdOutHandle, text, count, &written, nullptr);
    return;
  }
  std::uint32_t room = kBufferSize - 1 - stdOutCount;
  std::uint32_t taken = std::min(count, room);
  std::memcpy(stdOutBuffer + stdOutCount, text, taken);
  stdOutCount += taken;
}

void K2C_StdOutFlush() {
  if (stdOutHandle != win32::INVALID_HANDLE_VALUE || stdOutCount == 0) return;
  stdOutBuffer[stdOutCount] = '\0';
  constexpr win32::UINT kStyle =
      win32::MB_ICONERROR | win32::MB_TASKMODAL | win32::MB_SETFOREGROUND;
  win32::MessageBoxA(nullptr, stdOutBuffer, messageCaption(), kStyle);
  stdOutCount = 0;
}
