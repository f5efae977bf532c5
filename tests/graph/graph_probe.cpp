// What Graph does before its first Init, in a process of its own:
//   graph_probe start   prints the start values, then Exit twice, then opens
//                       and closes the window on the in-memory display; the
//                       console title is the same before and after Init.
//   graph_probe class-taken
//                       registers a class named "GraphWnd" itself, then calls
//                       Init, which must halt.
//   graph_probe too-large
//                       Init with sizes too large for a bitmap or a window.
#include <cstdio>
#include <utility>

#include "graph/Graph.h"
#include "graph/GraphTesting.h"
#include "graph/ktsIGraph.h"
#include "platform/Win32.h"
#include "platform/display/Display.h"
#include "runtime/TERMINATION.h"
#include "runtime/krnK2C.h"
#include "runtime/krnStart.h"
#include "platform/display/DisplayTesting.h"
#include "tests/support/Scenarios.h"

namespace {

void ProbeStart() {
  win32::detail::SelectDisplay(win32::detail::DisplayKind::Memory);
  Graph::BEGIN();
  Graph::BEGIN();  // a second start does nothing
  std::printf("fill mask %u, solid %u, width %u, depth %u, colours %u, grmode %d, hook %d\n",
              Graph::GetStdFillMask(), Graph::PATSYM_SOLID, Graph::Width, Graph::Depth,
              Graph::NumPColor, ktsIGraph::fGrMode ? 1 : 0, ktsIGraph::proc != nullptr ? 1 : 0);
  Graph::Exit();
  Graph::Exit();
  std::printf("exit before init: returned\n");
  win32::SetConsoleTitleA("probe title");
  const bool opened = Graph::Init(1, 1, 500, 500);
  char title[256] = {};
  win32::GetConsoleTitleA(title, sizeof title);
  std::printf("init: %s, window %s, console title \"%s\"\n", opened ? "TRUE" : "FALSE",
              Graph::detail::Window() != nullptr ? "open" : "none", title);
  Graph::Exit();
  Graph::Exit();
  std::printf("exit twice after init: returned, window %s\n",
              Graph::detail::Window() != nullptr ? "open" : "none");
  std::fflush(stdout);
}

win32::LRESULT CALLBACK PlainProcedure(win32::HWND window, win32::UINT message,
                                       win32::WPARAM wParam, win32::LPARAM lParam) {
  return win32::DefWindowProcA(window, message, wParam, lParam);
}

// Someone else has registered the class name first: Init halts.
void ProbeClassTaken() {
  win32::detail::SelectDisplay(win32::detail::DisplayKind::Memory);
  Graph::BEGIN();
  win32::WNDCLASSA other{};
  other.lpfnWndProc = PlainProcedure;
  other.lpszClassName = "GraphWnd";
  if (win32::RegisterClassA(&other) == 0) std::printf("could not take the class\n");
  std::fflush(stdout);
  Graph::Init(1, 1, 500, 500);
  std::printf("Init returned\n");
}

// Sizes whose bitmap cannot be made, or whose window size is no int: Init
// refuses them with its message and the open window stays as it was.
void ProbeTooLarge() {
  win32::detail::SelectDisplay(win32::detail::DisplayKind::Memory);
  Graph::BEGIN();
  Graph::Init(1, 1, 500, 500);
  const win32::HWND window = Graph::detail::Window();
  std::fflush(stdout);
  for (auto [width, depth] :
       {std::pair{8193u, 8192u}, std::pair{0x7FFFFFFFu, 0u}, std::pair{1u, 0xFFFFFFF0u}}) {
    const bool opened = Graph::Init(1, 1, width, depth);
    std::printf("init %ux%u: %s, size %ux%u, same window %s\n", width, depth,
                opened ? "TRUE" : "FALSE", Graph::Width, Graph::Depth,
                Graph::detail::Window() == window ? "yes" : "no");
    std::fflush(stdout);
  }
}

const testing_support::Scenario<void()> kScenarios[] = {
    {"start", &ProbeStart},
    {"class-taken", &ProbeClassTaken},
    {"too-large", &ProbeTooLarge},
};

void Main(std::int32_t argc, char** argv) {
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  if (argc != 2) {
    std::fprintf(stderr, "usage: graph_probe start|class-taken|too-large\n");
    K2C_HALT(2);
  }
  testing_support::ScenarioOrExit(kScenarios, argv[1])();
}

}  // namespace

// The run-time's start and exit path, as in a real program: the process ends
// through ExitProcess while the server thread still waits.
int main() {
  kStart(&Main);
}
