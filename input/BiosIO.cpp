#include "input/BiosIO.h"

#include "console/IO.h"
#include "input/ktsEvQue.h"
#include "runtime/ModuleInit.h"

namespace BiosIO {
namespace {
bool initialised = false;
}  // namespace

char LastChar = '\xFF';
std::uint8_t LastScan = 0;
bool EnhancedBIOS = true;

bool KeyPressed() {
  char ch = 0;
  std::uint8_t scan = 0;
  return ktsEvQue::peekKey(ch, scan);
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  ktsEvQue::BEGIN();
  IO::BEGIN();
  LastChar = '\xFF';
  LastScan = 0;
  EnhancedBIOS = true;
}

}  // namespace BiosIO
