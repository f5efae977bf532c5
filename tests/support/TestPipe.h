// An anonymous pipe as two handles, for tests that give a module a pipe:
// Windows makes one with CreatePipe; the Linux stand-in has none of its own,
// so there the pipe is the system's, each end wrapped as a handle.
#pragma once

#ifndef _WIN32
#include <unistd.h>

#include "platform/kernel/FilesInternal.h"
#endif
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"

namespace testing_support {

struct PipeHandles {
  win32::HANDLE read = nullptr;
  win32::HANDLE write = nullptr;
};

// False when the system has no pipe to give.
inline bool MakePipe(PipeHandles& pipe) {
#ifdef _WIN32
  return win32::CreatePipe(&pipe.read, &pipe.write, nullptr, 0) != 0;
#else
  int fds[2];
  if (::pipe(fds) != 0) return false;
  pipe.read = win32::detail::HandleForDescriptor(fds[0]);
  pipe.write = win32::detail::HandleForDescriptor(fds[1]);
  return true;
#endif
}

// The device that swallows what is written and gives nothing to read.
#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

}  // namespace testing_support
