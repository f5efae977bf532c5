#include "graph/GraphConsole.h"

#include <cstddef>
#include <string_view>

namespace Graph::console {
namespace {

win32::HWND consoleWindow = nullptr;

constexpr char kConsoleMarker[] = "__Tarvo console@@@###___vindo";
constexpr int kTitleCapacity = 256;
// The console shows a new title at once or after a moment, or never (no
// console window at all): look a few times, briefly, then give up.
constexpr int kConsoleSearchTries = 5;
constexpr win32::DWORD kConsoleSearchPauseMs = 20;

win32::BOOL CALLBACK matchConsoleMarker(win32::HWND window, win32::LPARAM found) {
  char text[kTitleCapacity] = {};
  const int length = win32::GetWindowTextA(window, text, kTitleCapacity);
  if (length <= 0 || std::string_view(text, static_cast<std::size_t>(length)) != kConsoleMarker) {
    return win32::TRUE;
  }
  *reinterpret_cast<win32::HWND*>(found) = window;
  return win32::FALSE;
}

win32::HWND findConsoleWindow() {
  char savedTitle[kTitleCapacity] = {};
  win32::GetConsoleTitleA(savedTitle, kTitleCapacity);
  if (!win32::SetConsoleTitleA(kConsoleMarker)) return nullptr;
  win32::HWND found = nullptr;
  for (int attempt = 0; attempt < kConsoleSearchTries && found == nullptr; ++attempt) {
    if (attempt > 0) win32::Sleep(kConsoleSearchPauseMs);
    win32::EnumWindows(matchConsoleMarker, reinterpret_cast<win32::LPARAM>(&found));
  }
  win32::SetConsoleTitleA(savedTitle);
  return found;
}

}  // namespace

void Discover() {
  consoleWindow = findConsoleWindow();
}

}  // namespace Graph::console
