// Opens the graphics window on the real display and draws the four start-up
// figures. With arguments BITMAP DONE it then writes its off-screen bitmap to
// BITMAP (binary PPM), prints "ready" and waits until the file DONE exists.
// A third argument "reopen" first opens a smaller window elsewhere, draws,
// closes it and opens the 500 x 500 one on the same server thread.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "graph/Graph.h"
#include "graph/GraphTesting.h"
#include "platform/Win32.h"
#include "platform/display/Surface.h"
#include "runtime/TERMINATION.h"
#include "runtime/krnK2C.h"
#include "runtime/krnStart.h"
#include "tests/support/TestFiles.h"
#include "platform/gdi/GdiInternal.h"

namespace {

void DrawStartupFigures() {
  Graph::Circle(100, 100, 50, 7);
  Graph::Rectangle(180, 180, 220, 220, 7, false);
  Graph::Circle(300, 300, 20, 7);
  Graph::Ellipse(100, 300, 20, 10, 7, false);
}

// Copies the bitmap through GDI, as any other DC would read it.
void WriteBitmap(const std::string& path) {
  const auto width = static_cast<std::int32_t>(Graph::Width);
  const auto depth = static_cast<std::int32_t>(Graph::Depth);
  auto surface = std::make_shared<win32::detail::Surface>(width, depth);
  win32::HDC dc = win32::detail::CreateSurfaceDC(surface);
  win32::BitBlt(dc, 0, 0, width, depth, Graph::detail::BitmapDC(), 0, 0, win32::SRCCOPY);
  win32::DeleteDC(dc);
  const std::string partial = path + ".part";
  {
    std::ofstream file(partial, std::ios::binary);
    file << "P6\n" << width << ' ' << depth << "\n255\n";
    for (std::int32_t i = 0; i < width * depth; ++i) {
      const std::uint32_t pixel = surface->pixels()[i];
      const char rgb[3] = {static_cast<char>(pixel >> 16), static_cast<char>(pixel >> 8),
                           static_cast<char>(pixel)};
      file.write(rgb, 3);
    }
  }
  std::filesystem::rename(partial, path);
}

void Main(std::int32_t argc, char** argv) {
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  Graph::BEGIN();
  if (argc > 3 && std::string(argv[3]) == "reopen") {
    if (!Graph::Init(200, 100, 300, 200)) K2C_HALT(9);
    Graph::Rectangle(0, 0, 299, 199, 4, true);
    Graph::Exit();
  }
  if (!Graph::Init(1, 1, 500, 500)) K2C_HALT(9);
  DrawStartupFigures();
  if (argc > 2) WriteBitmap(argv[1]);
  std::printf("ready\n");
  std::fflush(stdout);
  if (argc > 2) testing_support::WaitForFile(argv[2], std::chrono::seconds(30));
}

}  // namespace

int main() {
  kStart(&Main);
}
