// The mouse state from its two sources: the console's mouse records before
// graphics mode, the window's mouse messages (through the hook) after.
#include <gtest/gtest.h>

#include "tests/input/InputTestSupport.h"

namespace input_test {
namespace {

class MsMouseState : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartInputModules(); }

  static MsMouse::MsData Status() {
    MsMouse::MsData d{true, true, true, 77, -1, -1};
    MsMouse::GetStatus(d);
    EXPECT_EQ(d.actions, 77u);  // never written
    return d;
  }

  static void Message(std::uint32_t message, std::uint32_t keys, std::uint32_t x, std::uint32_t y) {
    ASSERT_NE(ktsIGraph::proc, nullptr);
    const auto lParam = static_cast<std::int32_t>((y << 16) | (x & 0xFFFF));
    EXPECT_EQ(ktsIGraph::proc(nullptr, message, keys, lParam), 0);
  }

  static void ConsoleMouse(std::int16_t x, std::int16_t y, std::uint32_t buttons) {
    ktsEvQue::detail::handleRecord(MouseRecord(x, y, buttons));
  }
};

TEST_F(MsMouseState, NoActivityGivesTheOriginAndNoButton) {
  MsMouse::InitMouse();
  const MsMouse::MsData d = Status();
  EXPECT_EQ(d.row, 0);
  EXPECT_EQ(d.col, 0);
  EXPECT_FALSE(d.left_pressed);
  EXPECT_FALSE(d.middle_pressed);
  EXPECT_FALSE(d.right_pressed);
}

TEST_F(MsMouseState, ConsoleClicksBeforeGraphicsModeCountInCells) {
  ConsoleMouse(10, 3, win32::FROM_LEFT_1ST_BUTTON_PRESSED);
  MsMouse::MsData d = Status();
  EXPECT_EQ(d.col, 10);
  EXPECT_EQ(d.row, 3);
  EXPECT_TRUE(d.left_pressed);
  EXPECT_FALSE(d.right_pressed);
  ConsoleMouse(11, 4, win32::RIGHTMOST_BUTTON_PRESSED | win32::FROM_LEFT_2ND_BUTTON_PRESSED);
  d = Status();
  EXPECT_FALSE(d.left_pressed);
  EXPECT_TRUE(d.right_pressed);
  EXPECT_TRUE(d.middle_pressed);
}

TEST_F(MsMouseState, ConsoleRecordsThroughTheReaderReachTheState) {
  ASSERT_TRUE(Write(MouseRecord(9, 4, win32::FROM_LEFT_1ST_BUTTON_PRESSED)));
  ASSERT_TRUE(WaitUntil([] { return Status().col == 9; }));
  EXPECT_EQ(Status().row, 4);
  EXPECT_TRUE(Status().left_pressed);
}

TEST_F(MsMouseState, WindowMessagesAreIgnoredBeforeGraphicsMode) {
  MsMouse::InitMouse();  // whatever an earlier test of the process left
  Message(win32::WM_LBUTTONDOWN, win32::MK_LBUTTON, 120, 95);
  EXPECT_EQ(Status().col, 0);
  EXPECT_FALSE(Status().left_pressed);
}

class MsMouseInGraphicsMode : public MsMouseState {
 protected:
  void SetUp() override { ktsIGraph::fGrMode = true; }
};

TEST_F(MsMouseInGraphicsMode, AHeldLeftButtonShowsWithClientPixels) {
  Message(win32::WM_LBUTTONDOWN, win32::MK_LBUTTON, 120, 95);
  MsMouse::MsData d = Status();
  EXPECT_EQ(d.col, 120);
  EXPECT_EQ(d.row, 95);
  EXPECT_TRUE(d.left_pressed);
  // A move with the button still down keeps it; the release clears it.
  Message(win32::WM_MOUSEMOVE, win32::MK_LBUTTON, 121, 95);
  EXPECT_TRUE(Status().left_pressed);
  EXPECT_EQ(Status().col, 121);
  Message(win32::WM_LBUTTONUP, 0, 121, 95);
  EXPECT_FALSE(Status().left_pressed);
}

TEST_F(MsMouseInGraphicsMode, AMoveToTheSamePlaceChangesNothingNotEvenTheButtons) {
  Message(win32::WM_LBUTTONDOWN, win32::MK_LBUTTON, 40, 50);
  Message(win32::WM_MOUSEMOVE, 0, 40, 50);  // released outside, back at the same spot
  EXPECT_TRUE(Status().left_pressed);
  Message(win32::WM_MOUSEMOVE, 0, 41, 50);
  EXPECT_FALSE(Status().left_pressed);
}

TEST_F(MsMouseInGraphicsMode, MiddleButtonShowsAndShiftAndCtrlDoNot) {
  Message(win32::WM_MBUTTONDOWN, win32::MK_MBUTTON | win32::MK_SHIFT | win32::MK_CONTROL, 1, 2);
  const MsMouse::MsData d = Status();
  EXPECT_TRUE(d.middle_pressed);
  EXPECT_FALSE(d.left_pressed);
  EXPECT_FALSE(d.right_pressed);
  Message(win32::WM_RBUTTONDBLCLK, win32::MK_RBUTTON, 3, 4);
  EXPECT_TRUE(Status().right_pressed);
  EXPECT_FALSE(Status().middle_pressed);
}

TEST_F(MsMouseInGraphicsMode, PositionsAreUnsigned16BitHalves) {
  Message(win32::WM_MOUSEMOVE, 0, 0xFFFF, 0xFFFE);
  EXPECT_EQ(Status().col, 0xFFFF);
  EXPECT_EQ(Status().row, 0xFFFE);
}

TEST_F(MsMouseInGraphicsMode, OtherMessagesAndConsoleClicksChangeNothing) {
  Message(win32::WM_LBUTTONDOWN, win32::MK_LBUTTON, 7, 8);
  Message(win32::WM_KEYDOWN, 0, 30, 40);
  Message(win32::WM_MOUSEMOVE - 1, win32::MK_RBUTTON, 30, 40);
  Message(win32::WM_MBUTTONDBLCLK + 1, win32::MK_RBUTTON, 30, 40);
  ConsoleMouse(10, 5, 0);
  const MsMouse::MsData d = Status();
  EXPECT_EQ(d.col, 7);
  EXPECT_EQ(d.row, 8);
  EXPECT_TRUE(d.left_pressed);
  EXPECT_FALSE(d.right_pressed);
}

}  // namespace
}  // namespace input_test
