// Runs one window-manager call under the default (SDL) back-end and reports:
//   create       CreateWindowExA; prints "window" or "no window <error>"
//   messagebox   MessageBoxA("Something failed", "Graph", MB_ICONERROR)
#include <cstdio>

#include "platform/Win32.h"
#include "tests/support/Scenarios.h"

namespace {

win32::LRESULT CALLBACK Procedure(win32::HWND window, win32::UINT message, win32::WPARAM wParam,
                                  win32::LPARAM lParam) {
  return win32::DefWindowProcA(window, message, wParam, lParam);
}

int CreateOneWindow() {
  win32::WNDCLASSA windowClass{};
  windowClass.style = win32::CS_OWNDC;
  windowClass.lpfnWndProc = Procedure;
  windowClass.lpszClassName = "Probe";
  if (win32::RegisterClassA(&windowClass) == 0) return 2;
  win32::HWND window = win32::CreateWindowExA(0, "Probe", "Graph", 0x108A0000, 1, 1, 502, 521,
                                              nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr) {
    std::printf("no window %u\n", static_cast<unsigned>(win32::GetLastError()));
    return 0;
  }
  std::printf("window\n");
  return 0;
}

int ShowOneMessageBox() {
  const int answer = win32::MessageBoxA(nullptr, "Something failed", "Graph",
                                        win32::MB_ICONERROR | win32::MB_SYSTEMMODAL);
  std::printf("answer %d\n", answer);
  return 0;
}

const testing_support::Scenario<int()> kCalls[] = {
    {"create", &CreateOneWindow},
    {"messagebox", &ShowOneMessageBox},
};

}  // namespace

int main(int argc, char** argv) {
  win32::detail::ConnectConsoleHost();
  if (argc != 2) return 2;
  return testing_support::ScenarioOrExit(kCalls, argv[1])();
}
