#include "channels/SeqFile.h"

#include "channels/ChanConsts.h"
#include "channels/IOChan.h"
#include "channels/IOLink.h"
#include "channels/kDevData.h"
#include "runtime/ModuleInit.h"

namespace SeqFile {
namespace {
bool initialised = false;
IOLink::DeviceId did = nullptr;
}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  kDevData::BEGIN();
  ChanConsts::BEGIN();
  IOChan::BEGIN();
  IOLink::BEGIN();
  did = kDevData::GetDID();
}

}  // namespace SeqFile
