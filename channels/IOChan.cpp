#include "channels/IOChan.h"

#include "channels/ChanConsts.h"
#include "runtime/ModuleInit.h"
#include "runtime/TERMINATION.h"

namespace IOChan {
namespace {
bool initialised = false;
IOLink::DeviceId ioChanDeviceId = nullptr;
ChanId invalidChan = nullptr;
}  // namespace

ChanId InvalidChan() {
  return invalidChan;
}

void Look(ChanId cid, char& ch, IOConsts::ReadResult& result) {
  cid->look(cid, ch, result);
}

void Skip(ChanId cid) {
  cid->skip(cid);
}

void TextRead(ChanId cid, void* to, std::uint32_t maxChars, std::uint32_t& charsRead) {
  cid->textRead(cid, to, maxChars, charsRead);
}

void TextWrite(ChanId cid, const void* from, std::uint32_t charsToWrite) {
  cid->textWrite(cid, from, charsToWrite);
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  IOLink::BEGIN();
  ChanConsts::BEGIN();
  IOConsts::BEGIN();
  ioChanDeviceId = IOLink::AllocateDeviceId();
  // While invalidChan is still null, a failed MakeChan hands back null too.
  invalidChan = IOLink::MakeChan(ioChanDeviceId);
  if (invalidChan == nullptr) K2C_HALT(9);
}

}  // namespace IOChan
