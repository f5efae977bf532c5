// Update regions, BeginPaint/EndPaint and window DCs.
#include "tests/platform/user/UserTestSupport.h"

namespace user_test {
namespace {

using namespace win32;

using PaintingTest = UserTest;

TEST_F(PaintingTest, NewVisibleWindowIsWhollyInvalid) {
  HWND window = CreateTestWindow();
  RECT update;
  ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
  EXPECT_TRUE(SameRect(update, {0, 0, 200, 100}));
  DrainMessages();
  ASSERT_EQ(PaintedAreas().size(), 1u);
  EXPECT_TRUE(SameRect(PaintedAreas()[0], {0, 0, 200, 100}));
  EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
}

TEST_F(PaintingTest, InvalidatedRectanglesAccumulateIntoOnePaint) {
  HWND window = CreateTestWindow();
  DrainMessages();
  ClearRecorded();
  RECT a{10, 10, 20, 20};
  RECT b{50, 5, 60, 15};
  InvalidateRect(window, &a, FALSE);
  InvalidateRect(window, &b, FALSE);
  DrainMessages();
  ASSERT_EQ(PaintedAreas().size(), 1u);
  EXPECT_TRUE(SameRect(PaintedAreas()[0], {10, 5, 60, 20}));
}

TEST_F(PaintingTest, InvalidationIsClippedToTheClientArea) {
  HWND window = CreateTestWindow();
  DrainMessages();
  ClearRecorded();
  RECT outside{300, 300, 400, 400};
  InvalidateRect(window, &outside, FALSE);
  RECT update;
  EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
  RECT across{190, 90, 250, 150};
  InvalidateRect(window, &across, FALSE);
  ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
  EXPECT_TRUE(SameRect(update, {190, 90, 200, 100}));
}

TEST_F(PaintingTest, BeginPaintValidatesAndReportsTheArea) {
  HWND window = CreateTestWindow();
  DrainMessages();
  RECT area{3, 4, 30, 40};
  InvalidateRect(window, &area, FALSE);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(paint.hdc, dc);
  EXPECT_TRUE(SameRect(paint.rcPaint, area));
  EXPECT_FALSE(paint.fErase);
  RECT update;
  EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
  EXPECT_TRUE(EndPaint(window, &paint));

  // Without anything invalid the paint area is empty.
  dc = BeginPaint(window, &paint);
  EXPECT_TRUE(SameRect(paint.rcPaint, {0, 0, 0, 0}));
  EndPaint(window, &paint);
}

TEST_F(PaintingTest, ValidateRectRemovesWholeStripsOrEverything) {
  HWND window = CreateTestWindow();
  DrainMessages();
  InvalidateRect(window, nullptr, FALSE);
  RECT topStrip{0, 0, 200, 30};
  ValidateRect(window, &topStrip);
  RECT update;
  ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
  EXPECT_TRUE(SameRect(update, {0, 30, 200, 100}));
  RECT middle{50, 50, 60, 60};  // a hole cannot be kept: the area stays
  ValidateRect(window, &middle);
  ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
  EXPECT_TRUE(SameRect(update, {0, 30, 200, 100}));
  ValidateRect(window, nullptr);
  EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
}

TEST_F(PaintingTest, PaintDCIsClippedToTheUpdateArea) {
  HWND window = CreateTestWindow();
  DrainMessages();
  // Paint everything white first (through a plain window DC).
  HDC dc = GetDC(window);
  RECT all{0, 0, 200, 100};
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  FillRect(dc, &all, white);
  ReleaseDC(window, dc);

  RECT area{20, 10, 40, 30};
  InvalidateRect(window, &area, FALSE);
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(paint.hdc, &all, red);  // only the update area may change
  EndPaint(window, &paint);

  auto image = detail::MemoryDisplayClientPixels(window);
  ASSERT_EQ(image.width, 200);
  ASSERT_EQ(image.height, 100);
  EXPECT_EQ(image.at(20, 10), 0x00FF0000u);
  EXPECT_EQ(image.at(39, 29), 0x00FF0000u);
  EXPECT_EQ(image.at(40, 29), 0x00FFFFFFu);
  EXPECT_EQ(image.at(19, 10), 0x00FFFFFFu);
  EXPECT_EQ(image.at(0, 0), 0x00FFFFFFu);

  // After EndPaint the own DC draws everywhere again.
  dc = GetDC(window);
  FillRect(dc, &all, red);
  EXPECT_EQ(detail::MemoryDisplayClientPixels(window).at(0, 0), 0x00FF0000u);
  ReleaseDC(window, dc);
  DeleteObject(white);
  DeleteObject(red);
}

TEST_F(PaintingTest, EraseUsesTheClassBackgroundBrush) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hbrBackground = CreateSolidBrush(RGB(0, 0, 255));
  windowClass.lpszClassName = "BlueBackground";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "BlueBackground", "", WS_VISIBLE, 0, 0, 60, 60, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  DrainMessages();
  auto image = detail::MemoryDisplayClientPixels(window);
  ASSERT_GT(image.width, 0);
  EXPECT_EQ(image.at(0, 0), 0x000000FFu);
  EXPECT_EQ(image.at(image.width - 1, image.height - 1), 0x000000FFu);
  DestroyWindow(window);
}

TEST_F(PaintingTest, OwnDCIsAlwaysTheSameCommonDCsAreFresh) {
  HWND own = CreateTestWindow("RecordingClass");
  HDC first = GetDC(own);
  EXPECT_EQ(GetDC(own), first);
  EXPECT_EQ(ReleaseDC(own, first), 1);
  EXPECT_EQ(GetDC(own), first);

  HWND common = CreateTestWindow("CommonDCClass");
  HDC a = GetDC(common);
  HDC b = GetDC(common);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(ReleaseDC(common, a), 1);
  EXPECT_EQ(ReleaseDC(common, b), 1);
  EXPECT_EQ(ReleaseDC(common, b), 0);
}

TEST_F(PaintingTest, ScreenDCDrawsOnTheScreen) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  SetPixelV(screen, 1000, 700, RGB(1, 2, 3));
  EXPECT_EQ(GetPixel(screen, 1000, 700), RGB(1, 2, 3));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
}

TEST_F(PaintingTest, UpdateWindowPaintsAtOnce) {
  HWND window = CreateTestWindow();
  ClearRecorded();
  EXPECT_TRUE(UpdateWindow(window));
  EXPECT_EQ(RecordedNumbers(), (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
  ClearRecorded();
  UpdateWindow(window);  // valid now: nothing
  EXPECT_TRUE(Recorded().empty());
}

}  // namespace
}  // namespace user_test
