#include "channels/TextIO.h"

#include "channels/IOChan.h"
#include "channels/IOConsts.h"
#include "runtime/ModuleInit.h"

namespace TextIO {
namespace {
bool initialised = false;
}  // namespace

// The character classes it would also import have no body of their own here.
void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  IOConsts::BEGIN();
  IOChan::BEGIN();
}

}  // namespace TextIO
