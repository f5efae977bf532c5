// Drawing the start-up figures into the 500 x 500 window and bitmap, and a
// repaint of the whole window from the bitmap, on the in-memory display.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "graph/Graph.h"
#include "graph/GraphTesting.h"
#include "graph/ktsIGraph.h"
#include "platform/Win32.h"
#include "platform/display/Display.h"
#include "platform/display/DisplayTesting.h"

namespace {

std::int32_t RepaintHook(win32::HWND window, std::uint32_t message, std::uint32_t wParam,
                         std::int32_t lParam);

void OpenWindow() {
  static const bool opened = [] {
    win32::detail::SelectDisplay(win32::detail::DisplayKind::Memory);
    Graph::BEGIN();
    ktsIGraph::proc = RepaintHook;  // before the server thread starts
    return Graph::Init(1, 1, 500, 500);
  }();
  if (!opened) std::abort();
}

void BM_StartupFigures(benchmark::State& state) {
  OpenWindow();
  for (auto _ : state) {
    Graph::Circle(100, 100, 50, 7);
    Graph::Rectangle(180, 180, 220, 220, 7, false);
    Graph::Circle(300, 300, 20, 7);
    Graph::Ellipse(100, 300, 20, 10, 7, false);
  }
}
BENCHMARK(BM_StartupFigures)->Unit(benchmark::kMicrosecond);

// The copy the window procedure makes on WM_PAINT, from the caller's side.
void BM_RepaintCopy(benchmark::State& state) {
  OpenWindow();
  for (auto _ : state) {
    win32::BitBlt(Graph::detail::WindowDC(), 0, 0, 500, 500, Graph::detail::BitmapDC(), 0, 0,
                  win32::SRCCOPY);
  }
}
BENCHMARK(BM_RepaintCopy)->Unit(benchmark::kMicrosecond);

// A whole-window repaint on the server thread, with the round trip to it:
// the hook, asked by a posted message, invalidates the window and has it
// painted at once (the window procedure copies the bitmap), then answers.
constexpr std::uint32_t kRepaintNow = win32::WM_USER + 1;
std::mutex repaintLock;
std::condition_variable repaintDone;
bool repainted = false;

std::int32_t RepaintHook(win32::HWND window, std::uint32_t message, std::uint32_t, std::int32_t) {
  if (message != kRepaintNow) return 0;
  win32::InvalidateRect(window, nullptr, win32::FALSE);
  win32::UpdateWindow(window);
  std::lock_guard guard(repaintLock);
  repainted = true;
  repaintDone.notify_one();
  return 0;
}

void BM_Repaint(benchmark::State& state) {
  OpenWindow();
  const win32::HWND window = Graph::detail::Window();
  for (auto _ : state) {
    win32::PostMessageA(window, kRepaintNow, 0, 0);
    std::unique_lock lock(repaintLock);
    repaintDone.wait(lock, [] { return repainted; });
    repainted = false;
  }
}
BENCHMARK(BM_Repaint)->Unit(benchmark::kMicrosecond);

void BM_ClearScreen(benchmark::State& state) {
  OpenWindow();
  for (auto _ : state) Graph::ClearScreen(0);
}
BENCHMARK(BM_ClearScreen)->Unit(benchmark::kMicrosecond);

}  // namespace

// Ends through ExitProcess, as the system's programs do: the server thread is
// still running, and returning from main would destroy what it uses.
int main(int argc, char** argv) {
  win32::detail::ConnectConsoleHost();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::fflush(stdout);
  win32::ExitProcess(0);
}
