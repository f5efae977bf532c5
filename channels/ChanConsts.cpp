#include "channels/ChanConsts.h"

#include "runtime/ModuleInit.h"

namespace ChanConsts {
namespace {
bool initialised = false;
}  // namespace

// Constants only: the body just marks the module initialised.
void BEGIN() {
  K2C_EnterBody(initialised);
}

}  // namespace ChanConsts
