#include "channels/IOLink.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "channels/IOChan.h"
#include "runtime/EXCEPTIONS.h"
#include "runtime/ModuleInit.h"
#include "runtime/Storage.h"
#include "runtime/krExceptions.h"

namespace IOLink {
namespace {

bool initialised = false;
EXCEPTIONS::ExceptionSource ioSource = nullptr;

const char* const kindNames[] = {"wrongDevice",     "notAvailable",    "skipAtEnd",
                                 "softDeviceError", "hardDeviceError", "textParseError",
                                 "notAChannel"};

std::size_t textLength(const char* text, std::size_t length) {
  return text == nullptr ? 0 : strnlen(text, length);
}

// Appends as much of the text as the buffer's remaining capacity holds; the
// NUL follows only when room remains.
void appendCut(char* buffer, std::size_t capacity, const char* text, std::size_t length) {
  std::size_t used = strnlen(buffer, capacity);
  std::size_t n = std::min(length, capacity - used);
  std::memcpy(buffer + used, text, n);
  if (used + n < capacity) buffer[used + n] = '\0';
}

[[noreturn]] void raiseChanException(DevExceptionRange x, const char* text, std::size_t length) {
  if (x > notAChannel) K2C_TRAP_CASE();
  char message[messageCapacity] = "IOException.";
  appendCut(message, sizeof message, kindNames[x], std::strlen(kindNames[x]));
  std::size_t n = textLength(text, length);
  if (n > 0) {
    appendCut(message, sizeof message, " ", 1);
    appendCut(message, sizeof message, text, n);
  }
  EXCEPTIONS::RAISE(ioSource, x, message, sizeof message);
}

void defaultLook(DeviceTablePtr, char&, IOConsts::ReadResult&) {
  raiseChanException(notAvailable, "Look", 4);
}
void defaultSkip(DeviceTablePtr) {
  raiseChanException(notAvailable, "Skip", 4);
}
void defaultRead(DeviceTablePtr, void*, std::uint32_t, std::uint32_t&) {
  raiseChanException(notAvailable, "Read", 4);
}
void defaultWrite(DeviceTablePtr, const void*, std::uint32_t) {
  raiseChanException(notAvailable, "Write", 5);
}
void defaultGetName(DeviceTablePtr, char* name, std::uint32_t capacity) {
  if (capacity > 0) name[0] = '\0';
}
void defaultNoOp(DeviceTablePtr) {}

// The procedure fields are constant, so a channel made before this body has
// run is complete all the same; only the template's own identity comes later.
DeviceTable ChanTemplate = {
    nullptr,     nullptr,      nullptr,        IOConsts::notKnown, 0,           0,
    defaultLook, defaultSkip,  defaultLook,    defaultSkip,        defaultRead, defaultWrite,
    defaultRead, defaultWrite, defaultGetName, defaultNoOp,        defaultNoOp, defaultNoOp};

}  // namespace

DeviceId AllocateDeviceId() {
  void* block = nullptr;
  Storage::ALLOCATE(block, sizeof(std::uint32_t));
  return static_cast<DeviceId>(block);
}

ChanId MakeChan(DeviceId did) {
  void* block = nullptr;
  Storage::ALLOCATE(block, sizeof(DeviceTable));
  if (block == nullptr) return IOChan::InvalidChan();
  auto* table = new (block) DeviceTable(ChanTemplate);
  table->deviceId = did;
  table->channel = table;
  return table;
}

bool IsDevice(ChanId cid, DeviceId did) {
  return cid != nullptr && cid->deviceId == did;
}

DeviceTablePtr DeviceTablePtrValue(ChanId cid, DeviceId did, DevExceptionRange, const char*,
                                   std::size_t) {
  if (IsDevice(cid, did)) return cid;
  static constexpr std::string_view name = "IOLink.DeviceTablePtrValue";
  raiseChanException(wrongDevice, name.data(), name.size());
}

DeviceTablePtr DeviceTablePtrValue(ChanId cid, DeviceId did, DevExceptionRange x,
                                   std::string_view text) {
  return DeviceTablePtrValue(cid, did, x, text.data(), text.size());
}

void RAISEdevException(ChanId cid, DeviceId did, DevExceptionRange x, const char* text,
                       std::size_t length) {
  if (IsDevice(cid, did)) raiseChanException(x, text, length);
  static constexpr std::string_view name = "IOLink.RAISEdevException";
  raiseChanException(wrongDevice, name.data(), name.size());
}

void RAISEdevException(ChanId cid, DeviceId did, DevExceptionRange x, std::string_view text) {
  RAISEdevException(cid, did, x, text.data(), text.size());
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  EXCEPTIONS::BEGIN();
  Storage::BEGIN();
  ChanConsts::BEGIN();
  IOConsts::BEGIN();
  IOChan::BEGIN();
  ChanTemplate.deviceId = AllocateDeviceId();
  EXCEPTIONS::AllocateSource(ioSource);
}

}  // namespace IOLink
