// A window on the SDL display, as the graphics library uses it: a server
// thread owns the window and its message loop; the main thread draws into
// the window's own DC. Arguments: <expected.ppm> <done-file> [idle-seconds]
//   - creates a 500 x 500 client area at (1, 1) titled "Graph";
//   - draws a scene into the window and the same scene into a memory bitmap,
//     waits until the server thread has shown it, writes the bitmap to
//     expected.ppm and prints "ready";
//   - with idle-seconds: stays idle that long and prints "idle cpu <us>",
//     the process's CPU time meanwhile;
//   - then waits until done-file exists and ends.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/Win32.h"

namespace {

using namespace win32;

constexpr int kSize = 500;

HANDLE windowReady = nullptr;
HANDLE shown = nullptr;
HANDLE painted = nullptr;  // set once the first WM_PAINT is done
HWND window = nullptr;

void DrawScene(HDC dc) {
  RECT all{0, 0, kSize, kSize};
  HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
  FillRect(dc, &all, black);
  DeleteObject(black);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  RECT block{10, 20, 110, 70};
  FillRect(dc, &block, red);
  DeleteObject(red);
  HPEN grey = CreatePen(0, 1, RGB(192, 192, 192));
  HGDIOBJ oldPen = SelectObject(dc, grey);
  Arc(dc, 150, 150, 350, 300, 0, 0, 0, 0);
  MoveToEx(dc, 0, 499, nullptr);
  LineTo(dc, 499, 0);
  SelectObject(dc, oldPen);
  DeleteObject(grey);
  SetPixelV(dc, 0, 0, RGB(0, 0, 255));
  SetPixelV(dc, 499, 499, RGB(0, 255, 0));
}

LRESULT CALLBACK Procedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(handle, &paint);
      DrawScene(paint.hdc);
      EndPaint(handle, &paint);
      SetEvent(painted);
      return 0;
    }
    case WM_CLOSE:
      return 0;
    default:
      return DefWindowProcA(handle, message, wParam, lParam);
  }
}

DWORD WINAPI Server(LPVOID) {
  window = CreateWindowExA(
      0, "UserE2E", "Graph", 0x108A0000, 1, 1, kSize + 2 * GetSystemMetrics(SM_CXBORDER),
      kSize + 2 * GetSystemMetrics(SM_CYBORDER) + GetSystemMetrics(SM_CYCAPTION), nullptr, nullptr,
      nullptr, nullptr);
  SetEvent(windowReady);
  if (window == nullptr) return 1;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    // A thread message from the main thread: everything drawn before it was
    // posted has been shown (the display handles its events in order).
    if (message.hwnd == nullptr && message.message == WM_APP) SetEvent(shown);
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

void WritePpm(HDC dc, const std::string& path) {
  const std::string partial = path + ".part";
  std::ofstream out(partial, std::ios::binary);
  out << "P6\n" << kSize << " " << kSize << "\n255\n";
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      out.put(static_cast<char>(c & 0xFF));
      out.put(static_cast<char>((c >> 8) & 0xFF));
      out.put(static_cast<char>((c >> 16) & 0xFF));
    }
  }
  out.close();
  std::rename(partial.c_str(), path.c_str());
}

long CpuMicroseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
         usage.ru_stime.tv_usec;
}

}  // namespace

int main(int argc, char** argv) {
  detail::ConnectConsoleHost();
  if (argc < 3) return 2;
  WNDCLASSA windowClass{};
  windowClass.style = CS_OWNDC | CS_BYTEALIGNCLIENT;
  windowClass.lpfnWndProc = Procedure;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = "UserE2E";
  if (RegisterClassA(&windowClass) == 0) return 3;
  windowReady = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  shown = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  painted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD serverId = 0;
  CreateThread(nullptr, 8192, Server, nullptr, 0, &serverId);
  WaitForSingleObject(windowReady, INFINITE);
  if (window == nullptr) {
    std::printf("no window\n");
    return 1;
  }

  // The window's own DC is one for both threads, current position included:
  // draw on it only after the first paint, not while the server thread does.
  WaitForSingleObject(painted, 10000);
  HDC windowDC = GetDC(window);
  DrawScene(windowDC);
  HDC memoryDC = CreateCompatibleDC(windowDC);
  HBITMAP bitmap = CreateCompatibleBitmap(windowDC, kSize, kSize);
  SelectObject(memoryDC, bitmap);
  DrawScene(memoryDC);

  PostThreadMessageA(serverId, WM_APP, 0, 0);
  WaitForSingleObject(shown, INFINITE);
  WritePpm(memoryDC, argv[1]);
  std::printf("ready\n");
  std::fflush(stdout);

  if (argc > 3) {
    const long before = CpuMicroseconds();
    Sleep(static_cast<DWORD>(std::atoi(argv[3]) * 1000));
    std::printf("idle cpu %ld\n", CpuMicroseconds() - before);
    std::fflush(stdout);
  }
  while (access(argv[2], F_OK) != 0) Sleep(20);
  // The server thread is still in its message loop: end the process at once,
  // as the run-time does, instead of running static destructors under it.
  std::fflush(nullptr);
  ExitProcess(0);
}
