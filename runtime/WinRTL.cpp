#include "runtime/WinRTL.h"

namespace WinRTL {

win32::BOOL rtlSetConsoleCursorPosition(win32::HANDLE console, const win32::COORD& position) {
  return win32::SetConsoleCursorPosition(console, position);
}

win32::BOOL rtlWriteConsoleOutputCharacterA(win32::HANDLE console, const char* characters,
                                            std::uint32_t count, const win32::COORD& position,
                                            std::uint32_t& written) {
  win32::DWORD done = 0;
  const win32::BOOL result =
      win32::WriteConsoleOutputCharacterA(console, characters, count, position, &done);
  written = done;
  return result;
}

}  // namespace WinRTL
