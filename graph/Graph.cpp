// The module's body and the window's life as the caller sees it; the server
// thread (GraphServer), the drawing (GraphDrawing), the text cursor
// (GraphCursor), key forwarding (GraphKeys) and console discovery
// (GraphConsole) each have a file of their own.
#include "graph/Graph.h"
#include "graph/GraphTesting.h"

#include "graph/GraphCursor.h"
#include "graph/GraphDrawing.h"
#include "graph/GraphServer.h"
#include "graph/ktsIGraph.h"
#include "runtime/ModuleInit.h"
#include "runtime/TERMINATION.h"

namespace Graph {

std::uint32_t Width = 0;
std::uint32_t Depth = 0;
std::uint32_t NumPColor = 0;
std::uint32_t Rows = 0;
std::uint32_t Columns = 0;

std::uint32_t PATSYM_HORIZ = 0;
std::uint32_t PATSYM_VERT = 0;
std::uint32_t PATSYM_DIAG2 = 0;
std::uint32_t PATSYM_DIAG1 = 0;
std::uint32_t PATSYM_DENSE2 = 0;
std::uint32_t PATSYM_DENSE1 = 0;
std::uint32_t PATSYM_SOLID = 0;

namespace {

bool initialised = false;
std::uint32_t displayColours = 0;

void setDrawingDefaults() {
  InitStdPalette();
  SetLinestyle(0);
  SetBkMix(true);
  SetBkColor(0);
  ClearScreen(0);
}

// Neither the window nor the server thread is stopped: both end with the
// process.
void finalise() {
  server::Finalise();
}

std::uint32_t coloursForBits(std::int32_t bits) {
  if (bits <= 0) return 1;
  // 2^32 and more does not fit: the largest count stands for "at least".
  if (bits >= 32) return 0xFFFFFFFFu;
  return std::uint32_t{1} << bits;
}

std::uint32_t countDisplayColours() {
  win32::HDC display = win32::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  const std::int32_t bits = win32::GetDeviceCaps(display, win32::BITSPIXEL) *
                            win32::GetDeviceCaps(display, win32::PLANES);
  win32::DeleteDC(display);
  return coloursForBits(bits);
}

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  ktsIGraph::BEGIN();
  K2C_FINALLY(finalise);
  server::Prepare();
  displayColours = countDisplayColours();
  drawing::Reset();
  cursor::Reset();
}

bool Init(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t depth) {
  // Refused before anything changes: an open window keeps its bitmap.
  if (!server::WindowSizeFits(width, depth)) {
    server::ShowFailureOnDisplay(server::kWindowFailure);
    return false;
  }
  if (!server::Open(server::Geometry{x, y, width, depth})) return false;
  ktsIGraph::fGrMode = true;
  NumPColor = displayColours;
  setDrawingDefaults();
  cursor::SetUpTextGrid(server::Objects().windowDC);
  return true;
}

void Exit() {
  server::Close();
}

namespace detail {
win32::HWND Window() {
  return server::Objects().window;
}
win32::HDC BitmapDC() {
  return server::Objects().memoryDC;
}
win32::HDC WindowDC() {
  return server::Objects().windowDC;
}
win32::DWORD ServerThreadId() {
  return server::ThreadId();
}
}  // namespace detail

}  // namespace Graph
