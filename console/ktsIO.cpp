// The console input mode around string reading.
#include "console/ktsIO.h"

#include "platform/console/Console.h"
#include "platform/kernel/Files.h"
#include "runtime/ModuleInit.h"

namespace ktsIO {
namespace {

bool initialised = false;
constexpr win32::DWORD kReadingModes =
    win32::ENABLE_PROCESSED_INPUT | win32::ENABLE_LINE_INPUT | win32::ENABLE_ECHO_INPUT;

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
}

void SetConMode(bool on, win32::DWORD& mode) {
  win32::HANDLE input = win32::GetStdHandle(win32::STD_INPUT_HANDLE);
  if (!on) {
    win32::SetConsoleMode(input, mode);
    return;
  }
  win32::DWORD current = 0;
  if (!win32::GetConsoleMode(input, &current)) {
    mode = 0;
    return;
  }
  win32::SetConsoleMode(input, current | kReadingModes);
  mode = current;
}

}  // namespace ktsIO
