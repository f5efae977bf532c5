// A window on the SDL display whose procedure writes what it receives to a
// log file, one line a message, for a test that plays the user with
// xdotool. Arguments: <log-file> <done-file>. The window is "Graph", its
// 500 x 500 client area at (1, 1); it repaints itself red on WM_PAINT and
// ignores WM_CLOSE. The log starts with "ready" once the window is shown.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/Win32.h"

namespace {

using namespace win32;

std::FILE* logFile = nullptr;
HANDLE windowReady = nullptr;
HWND window = nullptr;

void Log(const char* format, unsigned long a = 0, unsigned long b = 0, unsigned long c = 0,
         unsigned long d = 0) {
  std::fprintf(logFile, format, a, b, c, d);
  std::fputc('\n', logFile);
  std::fflush(logFile);
}

void LogKey(const char* what, WPARAM wParam, LPARAM lParam) {
  const auto bits = static_cast<unsigned long>(lParam) & 0xFFFFFFFFul;
  Log(what, (bits >> 16) & 0xFF, (bits >> 24) & 1, wParam, bits);
}

LRESULT CALLBACK Procedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  const unsigned long x = static_cast<unsigned long>(lParam) & 0xFFFF;
  const unsigned long y = (static_cast<unsigned long>(lParam) >> 16) & 0xFFFF;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(handle, &paint);
      HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
      RECT all{0, 0, 500, 500};
      FillRect(paint.hdc, &all, red);
      DeleteObject(red);
      Log("paint %lu %lu %lu %lu", paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right,
          paint.rcPaint.bottom);
      EndPaint(handle, &paint);
      return 0;
    }
    case WM_CLOSE:
      Log("close");
      return 0;
    case WM_ACTIVATE:
      Log("activate %lu", wParam);
      break;
    case WM_KEYDOWN:
      LogKey("keydown sc=%02lx ext=%lu vk=%02lx lp=%08lx", wParam, lParam);
      return 0;
    case WM_KEYUP:
      LogKey("keyup sc=%02lx ext=%lu vk=%02lx lp=%08lx", wParam, lParam);
      return 0;
    case WM_SYSKEYDOWN:
      LogKey("syskeydown sc=%02lx ext=%lu vk=%02lx lp=%08lx", wParam, lParam);
      return 0;
    case WM_SYSKEYUP:
      LogKey("syskeyup sc=%02lx ext=%lu vk=%02lx lp=%08lx", wParam, lParam);
      return 0;
    case WM_LBUTTONDOWN:
      Log("lbuttondown x=%lu y=%lu keys=%lu", x, y, wParam);
      return 0;
    case WM_LBUTTONUP:
      Log("lbuttonup x=%lu y=%lu keys=%lu", x, y, wParam);
      return 0;
    case WM_RBUTTONDOWN:
      Log("rbuttondown x=%lu y=%lu keys=%lu", x, y, wParam);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(handle, message, wParam, lParam);
}

DWORD WINAPI Server(LPVOID) {
  window = CreateWindowExA(0, "UserInput", "Graph", 0x108A0000, 1, 1, 502, 521, nullptr, nullptr,
                           nullptr, nullptr);
  SetEvent(windowReady);
  if (window == nullptr) return 1;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == WM_APP) Log("ready");
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  detail::ConnectConsoleHost();
  if (argc < 3) return 2;
  logFile = std::fopen(argv[1], "w");
  if (logFile == nullptr) return 2;
  WNDCLASSA windowClass{};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = Procedure;
  windowClass.lpszClassName = "UserInput";
  RegisterClassA(&windowClass);
  windowReady = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD serverId = 0;
  CreateThread(nullptr, 8192, Server, nullptr, 0, &serverId);
  WaitForSingleObject(windowReady, INFINITE);
  if (window == nullptr) return 1;
  PostThreadMessageA(serverId, WM_APP, 0, 0);
  while (access(argv[2], F_OK) != 0) Sleep(20);
  // The server thread is still in its message loop: end the process at once,
  // as the run-time does, instead of running static destructors under it.
  std::fflush(nullptr);
  ExitProcess(0);
}
