// Kernel objects behind handles, for the areas of the platform that add their own.
#pragma once

#include <memory>

#include "platform/kernel/Handles.h"

namespace win32::detail {

enum class ObjectKind { File, ConsoleInput, ConsoleOutput, Thread, Event, Mutex, Other };

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual ObjectKind kind() const = 0;
  // A writable descriptor that the object names plainly (a file, pipe or
  // terminal that is no console buffer, with access), -1 for any other: read
  // on every write without a cast through the virtual bases or a call.
  int plainDescriptor() const { return plainDescriptor_; }

 protected:
  void setPlainDescriptor(int fd) { plainDescriptor_ = fd; }

 private:
  int plainDescriptor_ = -1;
};
using KernelObjectPtr = std::shared_ptr<KernelObject>;

// Adds an object and returns its new handle (never -1); null, with
// ERROR_NO_SYSTEM_RESOURCES, when the table is full.
HANDLE InsertObject(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null (with ERROR_INVALID_HANDLE set) when the
// handle is not open. Pseudo-handles are not resolved here.
std::shared_ptr<KernelObject> LookupObject(HANDLE handle);

struct HandleSlot;

// The object behind a handle, held for the life of this value without a
// reference of its own: the cheap form for a call that uses the object and
// lets go (a read or write). A CloseHandle meanwhile closes the handle at
// once; the object goes when the last such value does. Null (with
// ERROR_INVALID_HANDLE set) when the handle is not open.
class PinnedObject {
 public:
  explicit PinnedObject(HANDLE handle);
  ~PinnedObject();
  PinnedObject(const PinnedObject&) = delete;
  PinnedObject& operator=(const PinnedObject&) = delete;
  KernelObject* get() const { return object_; }

 private:
  friend std::shared_ptr<KernelObject> LookupObject(HANDLE handle);
  HandleSlot* slot_;
  KernelObject* object_ = nullptr;
};

template <class T>
std::shared_ptr<T> LookupAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupObject(handle));
}

}  // namespace win32::detail
