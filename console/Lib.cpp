// The general library: delays.
#include "console/Lib.h"

#include "channels/IOChan.h"
#include "channels/StdChans.h"
#include "channels/TextIO.h"
#include "console/Str.h"
#include "console/ktsLib.h"
#include "runtime/ModuleInit.h"
#include "runtime/krnK2C.h"

namespace Lib {
namespace {

bool initialised = false;

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  K2C_InitFPP();
  Str::BEGIN();
  ktsLib::BEGIN();
  IOChan::BEGIN();
  StdChans::BEGIN();
  TextIO::BEGIN();
}

void Delay(std::uint32_t milliseconds) {
  ktsLib::Delay(milliseconds);
}

}  // namespace Lib
