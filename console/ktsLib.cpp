// Delays for the console libraries.
#include "console/ktsLib.h"

#include "platform/kernel/Sync.h"
#include "runtime/ModuleInit.h"

namespace ktsLib {
namespace {

bool initialised = false;

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
}

void Delay(std::uint32_t milliseconds) {
  win32::Sleep(milliseconds);
}

}  // namespace ktsLib
