// Shared pieces of the Graph tests: the in-memory display, pictures of the
// window and of the off-screen bitmap, and the same drawings made with plain
// GDI calls for comparison.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "graph/Graph.h"
#include "graph/GraphTesting.h"
#include "platform/Win32.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Wait.h"

namespace graph_test {

// 0x00RRGGBB of the standard palette's colours.
inline constexpr const auto& kStd = testing_support::kStandardPalette;

using Picture = testing_support::Image;
using testing_support::Differences;

// Runs Graph's module start once, with the recorders below as its window hook
// and key sink: on Linux on the in-memory display, on Windows on the real
// one.
void StartGraphForTests();
// Puts the recorders in place (for StartGraphForTests, before Graph starts).
void InstallRecorders();

// A bitmap of the platform's own to draw on and read back, 32 bits a pixel.
class Canvas {
 public:
  Canvas(std::int32_t width, std::int32_t height);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  win32::HDC dc() const;
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  Picture picture() const;

 private:
  struct Bitmap;
  std::int32_t width_;
  std::int32_t height_;
  std::unique_ptr<Bitmap> bitmap_;
};

// The window's client area as the screen shows it, and Graph's bitmap.
Picture WindowPicture();
Picture BitmapPicture();

// A fresh canvas like Graph's after Init: standard palette, black, background
// colour 0, opaque; draw() then gets its DC.
Picture Recipe(const std::function<void(win32::HDC)>& draw, std::int32_t width = 500,
               std::int32_t height = 500);

// Recipe tools: selects a pen and a brush made from the templates, and puts
// the old ones back and deletes the new ones when it goes.
class Tools {
 public:
  Tools(win32::HDC dc, win32::UINT penStyle, std::uint32_t colour, win32::UINT brushStyle,
        win32::ULONG_PTR hatch = 0);
  ~Tools();
  Tools(const Tools&) = delete;
  Tools& operator=(const Tools&) = delete;

 private:
  win32::HDC dc_;
  win32::HPEN pen_;
  win32::HBRUSH brush_;
  win32::HGDIOBJ oldPen_;
  win32::HGDIOBJ oldBrush_;
};

using testing_support::WaitUntil;

// The messages the window hook has seen, in order; thread-safe.
struct SeenMessage {
  win32::HWND window;
  std::uint32_t message;
  std::uint32_t wParam;
  std::int32_t lParam;
};
std::vector<SeenMessage> HookMessages();
void ClearHookMessages();
bool HookSaw(std::uint32_t message);
// Runs on the server thread for every message the hook sees, after it is
// recorded; none by default.
using HookAction = std::function<void(const SeenMessage&)>;
void SetHookAction(HookAction action);
// The hook itself, for ktsIGraph::proc.
std::int32_t RecordingHook(win32::HWND window, std::uint32_t message, std::uint32_t wParam,
                           std::int32_t lParam);

// The key records the window has made, in order; thread-safe.
std::vector<Graph::detail::KeyRecord> KeyRecords();
void ClearKeyRecords();
void RecordKey(const Graph::detail::KeyRecord& record);

}  // namespace graph_test

#include <gtest/gtest.h>

namespace graph_test {

// Every test starts with a freshly opened 500 x 500 window at (1, 1) and the
// settings that survive a re-open put back to their start values.
class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGraphForTests();
    Graph::Exit();
    ClearHookMessages();
    ClearKeyRecords();
    Graph::SetStdFillMask(Graph::PATSYM_SOLID);
    Graph::DisplayCursor(false);
    ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  }

  // The window and the bitmap show the same picture; returns it.
  static Picture Shown() {
    Picture window = WindowPicture();
    Picture bitmap = BitmapPicture();
    EXPECT_EQ(window, bitmap) << Differences(window, bitmap);
    return bitmap;
  }
};

}  // namespace graph_test
