// The kernel handle table. A handle names a kernel object (file, console
// buffer, thread, event, mutex, ...); the table keeps each object alive while
// any handle to it is open. Other platform areas register their own kernel
// objects here (the console host registers its input and output buffers).
#pragma once

#include <memory>

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD DUPLICATE_CLOSE_SOURCE = 0x1;
inline constexpr DWORD DUPLICATE_SAME_ACCESS = 0x2;

BOOL CloseHandle(HANDLE handle);
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                     DWORD access, BOOL inherit, DWORD options);
HANDLE GetCurrentProcess();  // the pseudo-handle (HANDLE)-1

namespace detail {

enum class ObjectKind { File, ConsoleInput, ConsoleOutput, Thread, Event, Mutex, Other };

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual ObjectKind kind() const = 0;
  // The descriptor behind an object of kind File (-1 for any other), read
  // without a cast through the virtual bases on every write.
  virtual int plainDescriptor() const { return -1; }
};
using KernelObjectPtr = std::shared_ptr<KernelObject>;

// Adds an object and returns its new handle (never null, never -1).
HANDLE InsertObject(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null (with ERROR_INVALID_HANDLE set) when the
// handle is not open. Pseudo-handles are not resolved here.
std::shared_ptr<KernelObject> LookupObject(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupObject(handle));
}

}  // namespace detail
}  // namespace win32
