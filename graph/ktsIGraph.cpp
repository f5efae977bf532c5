#include "graph/ktsIGraph.h"

#include "runtime/ModuleInit.h"

namespace ktsIGraph {

std::atomic<bool> fGrMode{false};
win32::HANDLE hConsoleInput = nullptr;
WindowHook proc = nullptr;

namespace {
bool initialised = false;
}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  proc = nullptr;
  fGrMode = false;
  hConsoleInput = win32::GetStdHandle(win32::STD_INPUT_HANDLE);
  // Input typed before the program started reading is not meant for it.
  win32::FlushConsoleInputBuffer(hConsoleInput);
}

}  // namespace ktsIGraph
