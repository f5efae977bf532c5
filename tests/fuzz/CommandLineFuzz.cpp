// Command-line quoting and splitting: any argument vector joined into a
// command line splits back into the same arguments (empty ones dropped, as
// the splitter drops them), and the raw rest starts at a space of the line.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/console/Console.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Process.h"
#include "runtime/krnStart.h"
#include "platform/kernel/ProcessInternal.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& line) {
  std::fprintf(stderr, "round trip broken: %s in [%s]\n", what, line.c_str());
  std::abort();
}

void release(const K2C_SplitResult& split) {
  const win32::HANDLE heap = win32::GetProcessHeap();
  for (std::int32_t i = 0; i < split.argc; ++i) win32::HeapFree(heap, 0, split.argv[i]);
  if (split.argv != nullptr) win32::HeapFree(heap, 0, split.argv);
}

}  // namespace

// The start every program of the system makes, before the first input.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  win32::detail::ConnectConsoleHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<std::string> arguments;
  while (provider.remaining_bytes() > 0 && arguments.size() < 16) {
    std::string argument;
    // Quotes, backslashes and blanks are what the quoting is about.
    for (std::uint8_t byte :
         provider.ConsumeBytes<std::uint8_t>(provider.ConsumeIntegralInRange<std::size_t>(0, 12))) {
      const char pick = " \t\"\\ab"[byte % 6];
      argument += byte >= 0xF0 ? static_cast<char>(byte & 0x7F ? byte : 'z') : pick;
    }
    arguments.push_back(argument);
  }
  if (arguments.empty()) return 0;
  std::string line = win32::detail::JoinCommandLine(arguments);
  K2C_SplitResult split = K2C_SplitCommandLine(line.data());
  std::vector<std::string> expected;
  for (const std::string& argument : arguments) {
    if (!argument.empty()) expected.push_back(argument);
  }
  if (split.argc != static_cast<std::int32_t>(expected.size())) fail("argument count", line);
  for (std::int32_t i = 0; i < split.argc; ++i) {
    if (expected[static_cast<std::size_t>(i)] != split.argv[i]) fail("argument text", line);
  }
  if (split.sysarg != nullptr &&
      (split.sysarg < line.data() || split.sysarg >= line.data() + line.size() ||
       *split.sysarg != ' ')) {
    fail("raw rest", line);
  }
  release(split);
  return 0;
}
