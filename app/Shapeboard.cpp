// The application module. For now its body writes one line end through the
// run-time's direct output and returns.
#include <cstdint>

#include "runtime/kosFmtIO.h"
#include "runtime/krnK2C.h"
#include "runtime/krnShowHistory.h"
#include "runtime/krnStart.h"

namespace {

void Main(std::int32_t argc, char** argv) {
  K2C_InitFPP();
  K2C_INIT_HISTORY();
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  K2C_StdOutN();
}

}  // namespace

int main() {
  kStart(&Main);
}
