// Opening, closing and re-opening the window; repaint; the window procedure.
#include <atomic>
#include <limits>
#include <thread>

#include "GraphTestSupport.h"
#include "graph/ktsIGraph.h"
#include "platform/display/MemoryDisplay.h"
#include "platform/gdi/GdiTesting.h"
#include "runtime/krExceptions.h"

namespace graph_test {
namespace {

using GraphServer = GraphTest;

win32::RECT WindowRect() {
  win32::RECT rect{};
  win32::GetWindowRect(Graph::detail::Window(), &rect);
  return rect;
}

win32::RECT ClientRect() {
  win32::RECT rect{};
  win32::GetClientRect(Graph::detail::Window(), &rect);
  return rect;
}

std::string WindowText() {
  char text[256] = {};
  win32::GetWindowTextA(Graph::detail::Window(), text, sizeof text);
  return text;
}

TEST_F(GraphServer, InitOpensABlack500By500WindowTitledGraphAtOneOne) {
  ASSERT_NE(Graph::detail::Window(), nullptr);
  EXPECT_EQ(WindowText(), "Graph");
  EXPECT_EQ(WindowRect().left, 1);
  EXPECT_EQ(WindowRect().top, 1);
  EXPECT_EQ(ClientRect().right, 500);
  EXPECT_EQ(ClientRect().bottom, 500);
  EXPECT_EQ(Graph::Width, 500u);
  EXPECT_EQ(Graph::Depth, 500u);
  const Picture shown = Shown();
  EXPECT_EQ(shown.width, 500);
  EXPECT_EQ(shown.count(0), 500u * 500u);
  EXPECT_TRUE(ktsIGraph::fGrMode);
}

TEST_F(GraphServer, OuterSizeAddsBordersAndCaption) {
  const win32::RECT outer = WindowRect();
  EXPECT_EQ(outer.right - outer.left, 500 + 2 * win32::GetSystemMetrics(win32::SM_CXBORDER));
  EXPECT_EQ(outer.bottom - outer.top, 500 + 2 * win32::GetSystemMetrics(win32::SM_CYBORDER) +
                                          win32::GetSystemMetrics(win32::SM_CYCAPTION));
}

TEST_F(GraphServer, InitOnAnOpenWindowReopensItWithTheNewGeometryOnTheSameThread) {
  const win32::DWORD server = Graph::detail::ServerThreadId();
  Graph::Circle(100, 100, 50, 7);
  ASSERT_TRUE(Graph::Init(40, 30, 300, 200));
  EXPECT_EQ(Graph::detail::ServerThreadId(), server);
  EXPECT_EQ(WindowRect().left, 40);
  EXPECT_EQ(WindowRect().top, 30);
  EXPECT_EQ(ClientRect().right, 300);
  EXPECT_EQ(ClientRect().bottom, 200);
  const Picture shown = Shown();
  EXPECT_EQ(shown.width, 300);
  EXPECT_EQ(shown.height, 200);
  EXPECT_EQ(shown.count(0), 300u * 200u);
}

TEST_F(GraphServer, InitAfterExitReopensOnTheSameThread) {
  const win32::DWORD server = Graph::detail::ServerThreadId();
  const win32::HWND first = Graph::detail::Window();
  Graph::Exit();
  EXPECT_EQ(Graph::detail::Window(), nullptr);
  EXPECT_FALSE(win32::IsWindow(first));
  // Registering the class again would fail and halt the program.
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  EXPECT_EQ(Graph::detail::ServerThreadId(), server);
  EXPECT_TRUE(win32::IsWindow(Graph::detail::Window()));
}

TEST_F(GraphServer, ExitTwiceAndInitAgain) {
  Graph::Exit();
  Graph::Exit();
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  Graph::Circle(100, 100, 50, 7);
  EXPECT_GT(Shown().count(kStd[7]), 0u);
}

void WINAPI CountCallback(win32::ULONG_PTR counter) {
  ++*reinterpret_cast<int*>(counter);
}

// A callback queued to the caller's thread may end its wait early; Exit and
// Init still return only once the server has answered.
TEST_F(GraphServer, QueuedCallbacksDoNotCutExitAndInitShort) {
  win32::HANDLE self = nullptr;
  win32::HANDLE process = win32::GetCurrentProcess();
  ASSERT_TRUE(win32::DuplicateHandle(process, win32::GetCurrentThread(), process, &self, 0,
                                     win32::FALSE, win32::DUPLICATE_SAME_ACCESS));
  int callbacks = 0;
  const win32::HWND first = Graph::detail::Window();
  win32::QueueUserAPC(&CountCallback, self, reinterpret_cast<win32::ULONG_PTR>(&callbacks));
  Graph::Exit();
  EXPECT_FALSE(win32::IsWindow(first));
  win32::QueueUserAPC(&CountCallback, self, reinterpret_cast<win32::ULONG_PTR>(&callbacks));
  ASSERT_TRUE(Graph::Init(1, 1, 300, 200));
  EXPECT_TRUE(win32::IsWindow(Graph::detail::Window()));
  EXPECT_EQ(ClientRect().right, 300);
  win32::SleepEx(0, win32::TRUE);  // whatever is still queued runs now
  EXPECT_EQ(callbacks, 2);
  win32::CloseHandle(self);
}

TEST_F(GraphServer, ReopeningLeavesNoGdiObjectsBehind) {
  Graph::Exit();
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  const std::size_t before = win32::detail::GdiObjectCount();
  for (int i = 0; i < 100; ++i) {
    Graph::Exit();
    ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  }
  EXPECT_EQ(win32::detail::GdiObjectCount(), before);
}

TEST_F(GraphServer, ManyReopeningsKeepWorking) {
  for (int i = 0; i < 20; ++i) {
    if (i % 2 == 0) Graph::Exit();
    ASSERT_TRUE(Graph::Init(1, 1, 100 + i, 100));
  }
  EXPECT_EQ(ClientRect().right, 119);
}

TEST_F(GraphServer, UncoveringRepaintsFromTheBitmap) {
  Graph::Circle(100, 100, 50, 7);
  Graph::Rectangle(180, 180, 220, 220, 7, false);
  const Picture drawn = Shown();
  const win32::HWND window = Graph::detail::Window();
  win32::detail::MemoryDisplayCover(window, win32::RECT{0, 0, 250, 250});
  EXPECT_EQ(WindowPicture().at(100, 50), win32::detail::kCoverColour);
  win32::detail::MemoryDisplayUncover(window);
  EXPECT_TRUE(WaitUntil([&] { return WindowPicture() == drawn; }))
      << Differences(WindowPicture(), drawn);
  EXPECT_TRUE(HookSaw(win32::WM_PAINT));
}

TEST_F(GraphServer, DrawingWhileCoveredIsThereAfterUncovering) {
  const win32::HWND window = Graph::detail::Window();
  win32::detail::MemoryDisplayCover(window, win32::RECT{0, 0, 500, 500});
  Graph::Circle(100, 100, 50, 7);
  Graph::Rectangle(300, 300, 400, 400, 4, true);
  const Picture bitmap = BitmapPicture();
  win32::detail::MemoryDisplayUncover(window);
  EXPECT_TRUE(WaitUntil([&] { return WindowPicture() == bitmap; }))
      << Differences(WindowPicture(), bitmap);
}

TEST_F(GraphServer, RepaintsWhileDrawingNeverShowAHalfDrawnPicture) {
  const win32::HWND window = Graph::detail::Window();
  for (int round = 0; round < 30; ++round) {
    win32::detail::MemoryDisplayCover(window, win32::RECT{0, 0, 500, 500});
    win32::detail::MemoryDisplayUncover(window);
    Graph::SetTextPosition(static_cast<std::uint32_t>(round % 5 + 1), 1);
    Graph::DisplayCursor(round % 2 == 0);
    Graph::Circle(250, 250, static_cast<std::uint32_t>(10 + round * 5), round % 15 + 1);
  }
  Graph::DisplayCursor(false);
  const Picture bitmap = BitmapPicture();
  EXPECT_TRUE(WaitUntil([&] { return WindowPicture() == bitmap; }))
      << Differences(WindowPicture(), bitmap);
}

TEST_F(GraphServer, CloseRequestLeavesTheWindowOpen) {
  const win32::HWND window = Graph::detail::Window();
  Graph::Circle(100, 100, 50, 7);
  win32::detail::MemoryDisplayCloseRequest(window);
  ASSERT_TRUE(WaitUntil([] { return HookSaw(win32::WM_CLOSE); }));
  // A message after the close request has been handled too.
  win32::PostMessageA(window, win32::WM_USER + 1, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return HookSaw(win32::WM_USER + 1); }));
  EXPECT_TRUE(win32::IsWindow(window));
  EXPECT_EQ(Graph::detail::Window(), window);
  EXPECT_GT(Shown().count(kStd[7]), 0u);
}

TEST_F(GraphServer, HookSeesEveryMessageWithItsArguments) {
  const win32::HWND window = Graph::detail::Window();
  win32::detail::MemoryDisplayMouseButton(window, win32::detail::MouseButton::Left, true, 120, 80);
  win32::detail::MemoryDisplayKey(window, 0x1E, false, true);
  win32::detail::MemoryDisplayActivate(window, true);
  win32::detail::MemoryDisplayCloseRequest(window);
  win32::PostMessageA(window, win32::WM_QUERYNEWPALETTE, 0, 0);
  win32::PostMessageA(window, win32::WM_USER + 7, 3, -4);
  ASSERT_TRUE(WaitUntil([] { return HookSaw(win32::WM_USER + 7); }));
  const std::vector<SeenMessage> seen = HookMessages();
  const auto find = [&seen](std::uint32_t message) {
    return std::find_if(seen.begin(), seen.end(),
                        [message](const SeenMessage& m) { return m.message == message; });
  };
  for (std::uint32_t message : {win32::WM_LBUTTONDOWN, win32::WM_KEYDOWN, win32::WM_ACTIVATE,
                                win32::WM_CLOSE, win32::WM_QUERYNEWPALETTE}) {
    EXPECT_NE(find(message), seen.end()) << message;
  }
  const auto click = find(win32::WM_LBUTTONDOWN);
  ASSERT_NE(click, seen.end());
  EXPECT_EQ(click->window, window);
  EXPECT_EQ(click->lParam, (80 << 16) | 120);
  const auto user = find(win32::WM_USER + 7);
  EXPECT_EQ(user->wParam, 3u);
  EXPECT_EQ(user->lParam, -4);
  EXPECT_GE(find(win32::WM_USER + 7), find(win32::WM_QUERYNEWPALETTE));
  EXPECT_EQ(KeyRecords().size(), 1u);
}

TEST_F(GraphServer, HookSeesTheWindowBeingCreated) {
  EXPECT_TRUE(HookSaw(win32::WM_CREATE) || HookSaw(win32::WM_NCCREATE));
}

TEST_F(GraphServer, PaletteRequestKeepsThePicture) {
  Graph::Circle(100, 100, 50, 7);
  const Picture before = Shown();
  win32::PostMessageA(Graph::detail::Window(), win32::WM_QUERYNEWPALETTE, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return HookSaw(win32::WM_QUERYNEWPALETTE); }));
  Graph::Circle(100, 100, 40, 7);
  const Picture after = Shown();
  EXPECT_EQ(after.at(100, 50), before.at(100, 50));
  EXPECT_EQ(after.at(100, 60), kStd[7]);
}

// The hook asks the test's thread to draw while the window erases its
// background for a repaint; had the repaint taken its locks first, the
// drawing would wait for the hook and the hook for the drawing.
TEST_F(GraphServer, HookRunsOutsideTheRepaintsLocksAndADrawingDuringItReachesTheWindow) {
  const win32::HWND window = Graph::detail::Window();
  std::atomic<bool> erasing{false};
  std::atomic<bool> drawn{false};
  std::atomic<bool> drawnWhileErasing{false};
  SetHookAction([&](const SeenMessage& seen) {
    if (seen.message != win32::WM_ERASEBKGND || drawn) return;
    erasing = true;
    drawnWhileErasing = WaitUntil([&] { return drawn.load(); }, std::chrono::seconds(5));
  });
  win32::detail::MemoryDisplayCover(window, win32::RECT{0, 0, 250, 250});
  win32::detail::MemoryDisplayUncover(window);
  ASSERT_TRUE(WaitUntil([&] { return erasing.load(); }));
  // Outside the uncovered area, where the painting DC does not reach.
  Graph::Rectangle(300, 300, 400, 400, 4, true);
  drawn = true;
  const Picture bitmap = BitmapPicture();
  EXPECT_TRUE(WaitUntil([&] { return WindowPicture() == bitmap; }))
      << Differences(WindowPicture(), bitmap);
  SetHookAction(nullptr);
  EXPECT_TRUE(drawnWhileErasing);
  EXPECT_EQ(WindowPicture().at(350, 350), kStd[4]);
}

// Sizes inside the bitmap guard that no window can have (the display's
// sides are 16-bit): the open window stays as it was.
TEST_F(GraphServer, SizeTheDisplayRefusesFailsAndKeepsTheOpenWindow) {
  const win32::HWND window = Graph::detail::Window();
  Graph::Circle(100, 100, 50, 7);
  const Picture before = Shown();
  const std::size_t objects = win32::detail::GdiObjectCount();
  const std::size_t messagesBefore = win32::detail::MemoryDisplayMessages().size();
  // The last is too large for a bitmap, refused before the display is asked.
  for (const auto& [width, depth] : {std::pair<std::uint32_t, std::uint32_t>{1, 1u << 26},
                                     {0, 2000000000},
                                     {40000, 10},
                                     {8193, 8192}}) {
    EXPECT_FALSE(Graph::Init(5, 5, width, depth)) << width << "x" << depth;
    EXPECT_EQ(Graph::detail::Window(), window);
    EXPECT_EQ(Graph::Width, 500u);
    EXPECT_EQ(Graph::Depth, 500u);
    EXPECT_EQ(WindowRect().left, 1);
  }
  EXPECT_EQ(win32::detail::GdiObjectCount(), objects);
  // Each refusal shows its box on the thread that runs the window.
  const auto messages = win32::detail::MemoryDisplayMessages();
  ASSERT_EQ(messages.size(), messagesBefore + 4);
  for (std::size_t k = messagesBefore; k < messages.size(); ++k) {
    EXPECT_EQ(messages[k].text, "Couldn't create main window");
    EXPECT_EQ(messages[k].threadId, Graph::detail::ServerThreadId());
  }
  EXPECT_EQ(Shown(), before);
  Graph::Circle(300, 300, 50, 7);
  EXPECT_GT(Shown().count(kStd[7]), before.count(kStd[7]));
  Graph::Exit();
  // On a closed window the refusal leaves it closed, and the next Init
  // opens one.
  EXPECT_FALSE(Graph::Init(5, 5, 1, 1u << 26));
  EXPECT_EQ(Graph::detail::Window(), nullptr);
  Graph::Exit();
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  EXPECT_EQ(Graph::Width, 500u);
  EXPECT_GT(Shown().count(0), 0u);
}

TEST_F(GraphServer, InitFarRightKeepsTheWholeDrawingArea) {
  ASSERT_TRUE(Graph::Init(0x7FFFFF00u, 1, 500, 500));
  const win32::RECT outer = WindowRect();
  EXPECT_LT(outer.left, outer.right);
  EXPECT_EQ(ClientRect().right, 500);
  EXPECT_EQ(ClientRect().bottom, 500);
  Graph::Rectangle(10, 10, 20, 20, 7, true);
  EXPECT_EQ(BitmapPicture().at(15, 15), kStd[7]);
}

TEST_F(GraphServer, EmptyPaletteChangesNothingAndLeavesNoObjects) {
  Graph::Circle(100, 100, 50, 7);
  const std::size_t objects = win32::detail::GdiObjectCount();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Graph::RemapAllPalette({}), 0);
  EXPECT_EQ(win32::detail::GdiObjectCount(), objects);
  Graph::Circle(100, 100, 40, 7);
  EXPECT_EQ(Shown().at(100, 60), kStd[7]);
  Graph::Exit();
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  EXPECT_EQ(win32::detail::GdiObjectCount(), objects);
}

// ---- A raise inside a drawing -----------------------------------------------------

// The hook raises a range trap in the middle of one drawing, with its tools
// selected and the bitmap lock held; a handler frame around a loop of
// drawings catches it.
std::atomic<int> raisesLeft{0};
void RaiseOnce() {
  if (raisesLeft.fetch_sub(1) == 1) K2C_TRAP_RANGE();
}

struct RaisingDrawing {
  const char* name;
  void (*draw)(std::uint32_t i);
};

void PrintTo(const RaisingDrawing& drawing, std::ostream* out) {
  *out << drawing.name;
}

class GraphRaise : public GraphTest, public ::testing::WithParamInterface<RaisingDrawing> {
 protected:
  void TearDown() override { Graph::detail::drawingHook = nullptr; }
};

TEST_P(GraphRaise, LeavesNoLockNorToolsAndTheCursorBack) {
  Graph::SetTextPosition(1, 1);
  Graph::DisplayCursor(true);
  ASSERT_EQ(BitmapPicture().at(0, 0), kStd[15]);  // the cursor cell, inverted
  const std::size_t objects = win32::detail::GdiObjectCount();
  raisesLeft = 3;
  Graph::detail::drawingHook = RaiseOnce;
  std::uint32_t caught = 0;
  std::uint32_t drawings = 0;
  K2C_Protect(
      [&] {
        for (std::uint32_t i = 0; i < 10; ++i, ++drawings) GetParam().draw(i);
      },
      [&](K2C_HandlerFrame& frame) { caught = frame.source->number; });
  Graph::detail::drawingHook = nullptr;
  EXPECT_EQ(caught, K2C_TRAP_NR_RANGE);
  EXPECT_LT(drawings, 10u);
  EXPECT_EQ(win32::detail::GdiObjectCount(), objects);
  EXPECT_EQ(BitmapPicture().at(0, 0), kStd[15]);
  // The server can still take the locks: it repaints, and Exit returns.
  const win32::HWND window = Graph::detail::Window();
  win32::detail::MemoryDisplayCover(window, win32::RECT{0, 0, 500, 500});
  win32::detail::MemoryDisplayUncover(window);
  const Picture bitmap = BitmapPicture();
  EXPECT_TRUE(WaitUntil([&] { return WindowPicture() == bitmap; }))
      << Differences(WindowPicture(), bitmap);
  Graph::DisplayCursor(false);
  Graph::Exit();  // returns only once the server has taken the locks it needs
  EXPECT_FALSE(win32::IsWindow(window));
}

INSTANTIATE_TEST_SUITE_P(
    Drawings, GraphRaise,
    ::testing::Values(
        RaisingDrawing{"Circle", [](std::uint32_t i) { Graph::Circle(250, 250, 20 + i, 7); }},
        RaisingDrawing{"FilledEllipse",
                       [](std::uint32_t i) { Graph::Ellipse(250, 250, 30 + i, 20, 4, true); }},
        RaisingDrawing{"Rectangle",
                       [](std::uint32_t i) { Graph::Rectangle(100, 100, 200 + i, 150, 2, false); }},
        RaisingDrawing{"Line",
                       [](std::uint32_t i) { Graph::Ellipse(250, 250, 0, 10 + i, 3, false); }},
        RaisingDrawing{"ClearScreen", [](std::uint32_t) { Graph::ClearScreen(0); }}),
    [](const ::testing::TestParamInfo<RaisingDrawing>& info) { return info.param.name; });

// ---- Key records ------------------------------------------------------------------

class GraphKeys : public GraphTest {
 protected:
  // The modifiers the window saw last stay until it is activated again.
  void SetUp() override {
    GraphTest::SetUp();
    win32::detail::MemoryDisplayActivate(Graph::detail::Window(), true);
    ASSERT_TRUE(WaitUntil([] { return HookSaw(win32::WM_ACTIVATE); }));
  }
  void Key(win32::UINT message, std::uint8_t scanCode, bool extended = false) {
    const bool down = message == win32::WM_KEYDOWN || message == win32::WM_SYSKEYDOWN;
    win32::detail::MemoryDisplayKey(Graph::detail::Window(), scanCode, extended, down);
    ++expected;
  }
  std::vector<Graph::detail::KeyRecord> Records() {
    EXPECT_TRUE(WaitUntil([this] { return KeyRecords().size() >= expected; }));
    return KeyRecords();
  }
  std::size_t expected = 0;
};

TEST_F(GraphKeys, KeyDownAndUpGiveTwoPlainRecords) {
  Key(win32::WM_KEYDOWN, 0x1E);
  Key(win32::WM_KEYUP, 0x1E);
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(records[0].keyDown);
  EXPECT_FALSE(records[1].keyDown);
  for (const auto& record : records) {
    EXPECT_EQ(record.scanCode, 0x1E);
    EXPECT_EQ(record.controlKeyState, 0u);
  }
}

TEST_F(GraphKeys, ShiftShowsInTheFollowingRecordsUntilItGoesUp) {
  Key(win32::WM_KEYDOWN, 0x2A);
  Key(win32::WM_KEYDOWN, 0x1E);
  Key(win32::WM_KEYUP, 0x1E);
  Key(win32::WM_KEYUP, 0x2A);
  Key(win32::WM_KEYDOWN, 0x1E);
  const auto records = Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].controlKeyState, 0u);
  EXPECT_EQ(records[1].controlKeyState, 0x0010u);
  EXPECT_EQ(records[2].controlKeyState, 0x0010u);
  EXPECT_EQ(records[3].controlKeyState, 0x0010u);
  EXPECT_EQ(records[4].controlKeyState, 0u);
}

TEST_F(GraphKeys, RightCtrlIsEnhancedAndSetsRightCtrl) {
  Key(win32::WM_KEYDOWN, 0x1D, true);
  Key(win32::WM_KEYDOWN, 0x1E);
  Key(win32::WM_KEYUP, 0x1D, true);
  Key(win32::WM_KEYDOWN, 0x1D);
  Key(win32::WM_KEYDOWN, 0x1E);
  const auto records = Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].scanCode, 0x1D);
  EXPECT_EQ(records[0].controlKeyState, 0x0100u);
  EXPECT_EQ(records[1].controlKeyState, 0x0004u);
  EXPECT_EQ(records[2].controlKeyState, 0x0104u);
  EXPECT_EQ(records[4].controlKeyState, 0x0008u);
}

TEST_F(GraphKeys, AltKeysSetTheirSide) {
  Key(win32::WM_SYSKEYDOWN, 0x38);
  Key(win32::WM_SYSKEYDOWN, 0x38, true);
  Key(win32::WM_SYSKEYDOWN, 0x1E);
  Key(win32::WM_SYSKEYUP, 0x38);
  Key(win32::WM_SYSKEYUP, 0x38, true);
  Key(win32::WM_SYSKEYUP, 0x1E);
  const auto records = Records();
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[2].controlKeyState, 0x0003u);
  EXPECT_TRUE(records[2].keyDown);
  EXPECT_FALSE(records[5].keyDown);
  EXPECT_EQ(records[5].controlKeyState, 0u);
}

TEST_F(GraphKeys, CursorBlockArrowIsEnhancedAndKeypadArrowIsNot) {
  Key(win32::WM_KEYDOWN, 0x48, true);
  Key(win32::WM_KEYDOWN, 0x48, false);
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].scanCode, 0x48);
  EXPECT_EQ(records[0].controlKeyState, 0x0100u);
  EXPECT_EQ(records[1].scanCode, 0x48);
  EXPECT_EQ(records[1].controlKeyState, 0u);
}

TEST_F(GraphKeys, HeldKeyGivesOneRecordPerKeyDown) {
  for (int i = 0; i < 4; ++i) Key(win32::WM_KEYDOWN, 0x1E);
  const auto records = Records();
  ASSERT_EQ(records.size(), 4u);
  for (const auto& record : records) EXPECT_TRUE(record.keyDown);
}

TEST_F(GraphKeys, ActivationClearsTheModifiers) {
  Key(win32::WM_KEYDOWN, 0x2A);
  Key(win32::WM_KEYDOWN, 0x1D);
  win32::detail::MemoryDisplayActivate(Graph::detail::Window(), false);
  win32::detail::MemoryDisplayActivate(Graph::detail::Window(), true);
  Key(win32::WM_KEYDOWN, 0x1E);
  const auto records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].controlKeyState, 0x0010u);
  EXPECT_EQ(records[2].controlKeyState, 0u);
}

}  // namespace
}  // namespace graph_test
