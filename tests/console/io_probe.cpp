// Helper program for the IO process tests: the application's click lines,
// fields, and string reading through IO's hook.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/IO.h"
#include "runtime/krnK2C.h"
#include "runtime/krnStart.h"
#include "tests/support/Scenarios.h"

namespace {

void writeClicks() {
  for (std::uint32_t i = 0; i < 3; ++i) {
    IO::WrStr("mouseclick at x=");
    IO::WrCard(10 * i, 0);
    IO::WrStr(", y=");
    IO::WrCard(i, 3);
    IO::WrLn();
  }
  IO::WrStrAdj("left", -6);
  IO::WrChar('|');
  IO::WrLn();
}

void readLines() {
  IO::Prompt = true;
  for (int i = 0; i < 3; ++i) {
    char line[6];
    IO::RdStrRedirect(line, sizeof line);
    std::string text(line, strnlen(line, sizeof line));
    std::fprintf(stderr, "[%s]\n", text.c_str());
  }
}

const testing_support::Scenario<void()> kScenarios[] = {
    {"clicks", &writeClicks},
    {"read", &readLines},
};

void Main(std::int32_t argc, char** argv) {
  auto* run = testing_support::ScenarioOrExit(kScenarios, argc > 1 ? argv[1] : "");
  K2C_InitFPP();
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  IO::BEGIN();
  run();
}

}  // namespace

int main() {
  kStart(&Main);
}
