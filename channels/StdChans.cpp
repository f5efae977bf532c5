#include "channels/StdChans.h"

#include <cstdint>

#include "channels/ChanConsts.h"
#include "channels/IOConsts.h"
#include "channels/IOLink.h"
#include "channels/kDevData.h"
#include "runtime/kosFiles.h"
#include "runtime/ModuleInit.h"

namespace StdChans {
namespace {

using IOLink::DeviceTablePtr;

constexpr std::uint32_t inputSelector = 0;
constexpr std::uint32_t outputSelector = 1;
constexpr std::uint32_t errorSelector = 2;

bool initialised = false;
IOLink::DeviceId stdDeviceId = nullptr;
ChanId nullChan = nullptr;
ChanId stdInChan = nullptr;
ChanId stdOutChan = nullptr;
ChanId stdErrChan = nullptr;
ChanId inChan = nullptr;
ChanId outChan = nullptr;
ChanId errChan = nullptr;

// ---- The null device ---------------------------------------------------------

void nullLook(DeviceTablePtr t, char& ch, IOConsts::ReadResult& result) {
  ch = '\0';
  result = IOConsts::endOfInput;
  t->result = IOConsts::endOfInput;
}

void nullSkip(DeviceTablePtr t) {
  t->result = IOConsts::endOfInput;
}

void nullRead(DeviceTablePtr t, void*, std::uint32_t, std::uint32_t& charsRead) {
  charsRead = 0;
  t->result = IOConsts::endOfInput;
}

void nullWrite(DeviceTablePtr, const void*, std::uint32_t) {}

void installNullDevice(DeviceTablePtr t) {
  t->flags = ChanConsts::readFlag | ChanConsts::writeFlag;
  t->look = t->skipLook = nullLook;
  t->skip = t->lineWrite = nullSkip;
  t->textRead = t->rawRead = nullRead;
  t->textWrite = t->rawWrite = nullWrite;
}

// ---- The standard channels -----------------------------------------------------

ChanId openStdChan(std::uint32_t selector, ChanConsts::ChanFlags flags) {
  win32::HANDLE handle = nullptr;
  if (K2C_fGetStd(handle, selector) != 0) return nullChan;
  char* name = nullptr;
  ChanConsts::OpenResult result = ChanConsts::opened;
  kDevData::MakeName(name, "", result);
  ChanId cid = IOLink::MakeChan(stdDeviceId);
  if (cid == IOChan::InvalidChan()) return cid;
  DeviceTablePtr table = IOLink::DeviceTablePtrValue(cid, stdDeviceId, IOLink::notAvailable, "");
  // A failed open leaves the template's procedures, which raise notAvailable.
  kDevData::Open(table, handle, name, flags, kDevData::standardStream, result);
  return cid;
}

void RedirectStdHandle(ChanId cid, std::uint32_t selector) {
  if (!IOLink::IsDevice(cid, stdDeviceId)) return;
  kDevData::DevData d = kDevData::GetDevData(cid);
  if (d != nullptr) (void)K2C_fSetStd(d->file, selector);
}

}  // namespace

ChanId StdInChan() {
  return stdInChan;
}
ChanId StdOutChan() {
  return stdOutChan;
}
ChanId StdErrChan() {
  return stdErrChan;
}
ChanId NullChan() {
  return nullChan;
}
ChanId InChan() {
  return inChan;
}
ChanId OutChan() {
  return outChan;
}
ChanId ErrChan() {
  return errChan;
}

void SetInChan(ChanId cid) {
  inChan = cid;
  RedirectStdHandle(cid, inputSelector);
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  kDevData::BEGIN();
  IOConsts::BEGIN();
  ChanConsts::BEGIN();
  IOLink::BEGIN();
  IOChan::BEGIN();
  stdDeviceId = IOLink::AllocateDeviceId();
  nullChan = IOLink::MakeChan(stdDeviceId);
  if (nullChan != IOChan::InvalidChan()) {
    installNullDevice(IOLink::DeviceTablePtrValue(nullChan, stdDeviceId, IOLink::notAvailable, ""));
  }
  ChanConsts::ChanFlags common = ChanConsts::textFlag;
  if (K2C_IsMixAllowed()) common |= ChanConsts::rawFlag;
  stdInChan = openStdChan(inputSelector, common | ChanConsts::readFlag);
  stdOutChan = openStdChan(outputSelector, common | ChanConsts::writeFlag);
  stdErrChan = openStdChan(errorSelector, common | ChanConsts::writeFlag);
  inChan = stdInChan;
  outChan = stdOutChan;
  errChan = stdErrChan;
}

}  // namespace StdChans
