// Helper program for the file and process tests: writes, flushes, prints its
// command line, and ends through ExitProcess, as told by its first argument.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/console/Console.h"
#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/ProcessInternal.h"
#include "tests/support/Scenarios.h"

using namespace win32;

namespace {

void reportToStderr(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

// Writes a block larger than a pipe's buffer so that a pipe without readers
// fails however the kernel splits the write.
int writeToStdout() {
  const std::string block(256 * 1024, 'x');
  DWORD written = 0;
  const BOOL ok = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), block.data(),
                            static_cast<DWORD>(block.size()), &written, nullptr);
  reportToStderr("ok=" + std::to_string(ok) + " error=" + std::to_string(GetLastError()) +
                 " written=" + std::to_string(written) + "\n");
  return 0;
}

int flushStdout() {
  const BOOL ok = FlushFileBuffers(GetStdHandle(STD_OUTPUT_HANDLE));
  reportToStderr("ok=" + std::to_string(ok) + " error=" + std::to_string(GetLastError()) + "\n");
  return 0;
}

int printFileType() {
  const DWORD type = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE));
  reportToStderr("type=" + std::to_string(type) + "\n");
  return 0;
}

int printCommandLine() {
  const char* line = GetCommandLineA();
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written,
            nullptr);
  return 0;
}

int exitThroughHooks() {
  detail::AddExitHook([] { reportToStderr("first hook\n"); });
  detail::AddExitHook([] { reportToStderr("second hook\n"); });
  ExitProcess(7);
}

int setTitle() {
  return SetConsoleTitleA(
             "Shape\abo\x1b"
             "ard")
             ? 0
             : 1;
}

const testing_support::Scenario<int()> kModes[] = {
    {"write", &writeToStdout},      {"flush", &flushStdout},     {"type", &printFileType},
    {"cmdline", &printCommandLine}, {"exit", &exitThroughHooks}, {"title", &setTitle},
};

}  // namespace

int main(int argc, char** argv) {
  detail::ConnectConsoleHost();
  return testing_support::ScenarioOrExit(kModes, argc > 1 ? argv[1] : "")();
}
