// The memory display: what the screen shows, covering and uncovering, and
// the user's input and close requests arriving as messages.
#include "tests/platform/user/UserTestSupport.h"
#include "platform/display/DisplayTesting.h"

namespace user_test {
namespace {

using namespace win32;
using detail::kCoverColour;

constexpr std::uint32_t kRed = 0x00FF0000u;
constexpr std::uint32_t kGreen = 0x0000FF00u;

class MemoryDisplayTest : public UserTest {
 protected:
  // A test window, painted, with its client area filled red.
  HWND OpenRedWindow() {
    Behaviour().fillOnPaint = true;
    Behaviour().paintColour = RGB(255, 0, 0);
    HWND window = CreateTestWindow();
    DrainMessages();
    ClearRecorded();
    return window;
  }

  static void Fill(HWND window, const RECT& area, COLORREF colour) {
    HDC dc = GetDC(window);
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
  }

  static std::vector<Seen> Dispatched(UINT message) {
    DrainMessages();
    std::vector<Seen> found;
    for (const Seen& s : Recorded()) {
      if (s.message == message) found.push_back(s);
    }
    return found;
  }
};

TEST_F(MemoryDisplayTest, DrawingShowsAtTheClientPositionOnTheScreen) {
  HWND window = OpenRedWindow();
  auto client = detail::MemoryDisplayClientPixels(window);
  ASSERT_EQ(client.width, 200);
  ASSERT_EQ(client.height, 100);
  EXPECT_EQ(client.at(0, 0), kRed);
  EXPECT_EQ(client.at(199, 99), kRed);

  Fill(window, {5, 6, 7, 8}, RGB(0, 255, 0));
  auto screen = detail::MemoryDisplayScreenPixels();
  ASSERT_EQ(screen.width, 1024);
  // Client origin: outer (10, 20) + border 1 + caption 19.
  EXPECT_EQ(screen.at(10 + 1 + 5, 20 + 1 + 19 + 6), kGreen);
  EXPECT_EQ(screen.at(10 + 1 + 4, 20 + 1 + 19 + 6), kRed);
}

TEST_F(MemoryDisplayTest, CoveredPixelsAreLostAndUncoveringAsksForAPaint) {
  HWND window = OpenRedWindow();
  Behaviour().fillOnPaint = false;  // see the lost pixels before repainting
  detail::MemoryDisplayCover(window, {10, 10, 50, 40});
  auto covered = detail::MemoryDisplayClientPixels(window);
  EXPECT_EQ(covered.at(10, 10), kCoverColour);
  EXPECT_EQ(covered.at(49, 39), kCoverColour);
  EXPECT_EQ(covered.at(50, 39), kRed);

  detail::MemoryDisplayUncover(window);
  auto paints = Dispatched(WM_PAINT);
  ASSERT_EQ(paints.size(), 1u);
  ASSERT_EQ(PaintedAreas().size(), 1u);
  EXPECT_TRUE(SameRect(PaintedAreas()[0], {10, 10, 50, 40}));
  // Nothing repainted the area: the screen still shows what covered it.
  EXPECT_EQ(detail::MemoryDisplayClientPixels(window).at(10, 10), kCoverColour);
}

TEST_F(MemoryDisplayTest, RepaintRestoresTheUncoveredArea) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayCover(window, {0, 0, 30, 30});
  detail::MemoryDisplayUncover(window);
  DrainMessages();
  auto image = detail::MemoryDisplayClientPixels(window);
  EXPECT_EQ(image.at(0, 0), kRed);
  EXPECT_EQ(image.at(29, 29), kRed);
}

TEST_F(MemoryDisplayTest, SeveralCoversGiveOnePaintOfTheirBounds) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayCover(window, {10, 10, 20, 20});
  detail::MemoryDisplayCover(window, {100, 50, 120, 60});
  detail::MemoryDisplayUncover(window);
  EXPECT_EQ(Dispatched(WM_PAINT).size(), 1u);
  ASSERT_EQ(PaintedAreas().size(), 1u);
  EXPECT_TRUE(SameRect(PaintedAreas()[0], {10, 10, 120, 60}));
}

TEST_F(MemoryDisplayTest, DrawingUnderACoverDoesNotReachTheScreen) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayCover(window, {0, 0, 50, 50});
  Fill(window, {0, 0, 200, 100}, RGB(0, 255, 0));
  auto image = detail::MemoryDisplayClientPixels(window);
  EXPECT_EQ(image.at(10, 10), kCoverColour);
  EXPECT_EQ(image.at(60, 10), kGreen);
}

TEST_F(MemoryDisplayTest, CoverOutsideTheClientAreaChangesNothing) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayCover(window, {300, 300, 400, 400});
  detail::MemoryDisplayUncover(window);
  EXPECT_TRUE(Dispatched(WM_PAINT).empty());
}

TEST_F(MemoryDisplayTest, CloseRequestArrivesAsWmClose) {
  Behaviour().ignoreClose = true;
  HWND window = OpenRedWindow();
  detail::MemoryDisplayCloseRequest(window);
  EXPECT_EQ(Dispatched(WM_CLOSE).size(), 1u);
  EXPECT_TRUE(IsWindow(window));  // the procedure ignored it

  Behaviour().ignoreClose = false;
  detail::MemoryDisplayCloseRequest(window);
  EXPECT_EQ(Dispatched(WM_CLOSE).size(), 2u);
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(MemoryDisplayTest, ClosedWindowLeavesTheScreen) {
  HWND window = OpenRedWindow();
  DestroyWindow(window);
  auto screen = detail::MemoryDisplayScreenPixels();
  EXPECT_NE(screen.at(10 + 1 + 5, 20 + 20 + 5), kRed);
  EXPECT_EQ(detail::MemoryDisplayClientPixels(window).width, 0);
}

TEST_F(MemoryDisplayTest, MouseInputCarriesClientCoordinates) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayMouseMove(window, 12, 34);
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Left, true, 150, 90);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_MOUSEMOVE);
  EXPECT_EQ(message.hwnd, window);
  EXPECT_EQ(message.lParam, (34 << 16) | 12);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_LBUTTONDOWN);
  EXPECT_EQ(message.wParam, MK_LBUTTON);
  EXPECT_EQ(message.lParam, (90 << 16) | 150);
  EXPECT_EQ(message.pt.x, 10 + 1 + 150);
  EXPECT_EQ(message.pt.y, 20 + 20 + 90);
}

// A drag off the client area (the display reports the pointer outside while
// the button is held): nothing reaches the window until the pointer is back,
// and the release outside is not seen there either.
TEST_F(MemoryDisplayTest, MouseOutsideTheClientAreaIsNotSentUnlessCaptured) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Left, true, 50, 40);
  for (auto [x, y] : {std::pair{-1, 40}, {-200, 40}, {200, 40}, {50, 100}, {50, -1}}) {
    detail::MemoryDisplayMouseMove(window, x, y);
  }
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Left, false, -30, 40);
  detail::MemoryDisplayMouseMove(window, 199, 99);
  const auto moves = Dispatched(WM_MOUSEMOVE);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].lParam, (99 << 16) | 199);
  EXPECT_EQ(moves[0].wParam, 0u);  // the button went up outside
  EXPECT_EQ(Dispatched(WM_LBUTTONDOWN).size(), 1u);
  EXPECT_TRUE(Dispatched(WM_LBUTTONUP).empty());
}

TEST_F(MemoryDisplayTest, CapturedWindowGetsTheMouseOutsideWithItsOwnCoordinates) {
  HWND window = OpenRedWindow();
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(SetCapture(window), nullptr);
  EXPECT_EQ(GetCapture(), window);
  EXPECT_EQ(SetCapture(window), window);
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Left, true, 50, 40);
  detail::MemoryDisplayMouseMove(window, -5, 300);
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Left, false, -30, 40);
  EXPECT_TRUE(ReleaseCapture());
  EXPECT_EQ(GetCapture(), nullptr);
  detail::MemoryDisplayMouseMove(window, -6, 300);
  const auto moves = Dispatched(WM_MOUSEMOVE);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].lParam, (300 << 16) | 0xFFFB);
  EXPECT_EQ(moves[0].wParam, MK_LBUTTON);
  const auto ups = Dispatched(WM_LBUTTONUP);
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_EQ(ups[0].lParam, (40 << 16) | 0xFFE2);
  EXPECT_EQ(SetCapture(reinterpret_cast<HWND>(0x4444)), nullptr);
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(MemoryDisplayTest, KeysCarryScanCodeExtendedFlagAndTransition) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayKey(window, 0x1E, false, true);
  detail::MemoryDisplayKey(window, 0x1E, false, true);  // held: repeats
  detail::MemoryDisplayKey(window, 0x1E, false, false);
  detail::MemoryDisplayKey(window, 0x1D, true, true);  // right Ctrl
  auto keys = Dispatched(WM_KEYDOWN);
  auto ups = Dispatched(WM_KEYUP);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].wParam, static_cast<WPARAM>('A'));
  EXPECT_EQ(keys[0].lParam, 0x001E0001);
  EXPECT_EQ(keys[1].lParam, 0x401E0001);
  EXPECT_EQ(keys[2].wParam, VK_CONTROL);
  EXPECT_EQ((keys[2].lParam >> 16) & 0x1FF, 0x11D);
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_EQ(ups[0].lParam, static_cast<LPARAM>(0xC01E0001u));
}

TEST_F(MemoryDisplayTest, SystemKeysAndActivation) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayKey(window, 0x38, false, true);
  detail::MemoryDisplayActivate(window, false);
  detail::MemoryDisplayActivate(window, true);
  auto system = Dispatched(WM_SYSKEYDOWN);
  ASSERT_EQ(system.size(), 1u);
  EXPECT_EQ(system[0].wParam, VK_MENU);
  EXPECT_EQ(system[0].lParam & (1 << 29), 1 << 29);
  auto activations = Dispatched(WM_ACTIVATE);
  ASSERT_EQ(activations.size(), 2u);
  EXPECT_EQ(activations[0].wParam, WA_INACTIVE);
  EXPECT_EQ(activations[1].wParam, WA_ACTIVE);
}

TEST_F(MemoryDisplayTest, MouseKeysCarryHeldButtonsAndModifiers) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayKey(window, 0x2A, false, true);  // left Shift
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Right, true, 5, 6);
  detail::MemoryDisplayMouseMove(window, 7, 8);
  detail::MemoryDisplayKey(window, 0x2A, false, false);
  detail::MemoryDisplayKey(window, 0x1D, true, true);  // right Ctrl
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Right, false, 7, 8);
  detail::MemoryDisplayKey(window, 0x1D, true, false);
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Middle, true, 9, 9);
  const auto rightDown = Dispatched(WM_RBUTTONDOWN);
  const auto moves = Dispatched(WM_MOUSEMOVE);
  const auto rightUp = Dispatched(WM_RBUTTONUP);
  const auto middle = Dispatched(WM_MBUTTONDOWN);
  ASSERT_EQ(rightDown.size(), 1u);
  ASSERT_EQ(moves.size(), 1u);
  ASSERT_EQ(rightUp.size(), 1u);
  ASSERT_EQ(middle.size(), 1u);
  EXPECT_EQ(rightDown[0].wParam, MK_RBUTTON | MK_SHIFT);
  EXPECT_EQ(moves[0].wParam, MK_RBUTTON | MK_SHIFT);
  EXPECT_EQ(rightUp[0].wParam, MK_CONTROL);
  EXPECT_EQ(middle[0].wParam, MK_MBUTTON);
  detail::MemoryDisplayMouseButton(window, detail::MouseButton::Middle, false, 9, 9);
}

TEST_F(MemoryDisplayTest, SystemKeysFollowAltUnlessCtrlIsHeldAndF10IsOne) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayKey(window, 0x44, false, true);  // F10 alone
  detail::MemoryDisplayKey(window, 0x1D, false, true);  // left Ctrl
  detail::MemoryDisplayKey(window, 0x38, true, true);   // right Alt: AltGr with Ctrl
  detail::MemoryDisplayKey(window, 0x10, false, true);  // Q
  detail::MemoryDisplayKey(window, 0x1D, false, false);
  detail::MemoryDisplayKey(window, 0x10, false, true);  // Q with right Alt alone
  detail::MemoryDisplayKey(window, 0x38, true, false);
  detail::MemoryDisplayKey(window, 0x10, false, false);  // Q going up, no Alt
  const auto system = Dispatched(WM_SYSKEYDOWN);
  const auto plain = Dispatched(WM_KEYDOWN);
  const auto systemUps = Dispatched(WM_SYSKEYUP);
  const auto plainUps = Dispatched(WM_KEYUP);
  ASSERT_EQ(system.size(), 2u);
  EXPECT_EQ((system[0].lParam >> 16) & 0xFF, 0x44);
  EXPECT_EQ((system[1].lParam >> 16) & 0xFF, 0x10);
  EXPECT_EQ(system[1].lParam & (1 << 29), 1 << 29);
  ASSERT_EQ(plain.size(), 3u);  // Ctrl, AltGr, Q under AltGr
  EXPECT_EQ((plain[2].lParam >> 16) & 0xFF, 0x10);
  ASSERT_EQ(systemUps.size(), 2u);  // Ctrl and right Alt, each up while Alt is held
  EXPECT_EQ((systemUps[0].lParam >> 16) & 0x1FF, 0x1D);
  EXPECT_EQ((systemUps[1].lParam >> 16) & 0x1FF, 0x138);
  ASSERT_EQ(plainUps.size(), 1u);
  EXPECT_EQ((plainUps[0].lParam >> 16) & 0xFF, 0x10);
}

TEST_F(MemoryDisplayTest, LosingTheFocusForgetsHeldKeys) {
  HWND window = OpenRedWindow();
  detail::MemoryDisplayKey(window, 0x38, false, true);  // Alt, released elsewhere
  detail::MemoryDisplayActivate(window, false);
  detail::MemoryDisplayActivate(window, true);
  detail::MemoryDisplayKey(window, 0x1E, false, true);
  const auto plain = Dispatched(WM_KEYDOWN);
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].lParam, 0x001E0001);
}

TEST_F(MemoryDisplayTest, ControlsIgnoreUnknownWindows) {
  HWND stranger = reinterpret_cast<HWND>(0x4444);
  detail::MemoryDisplayCloseRequest(stranger);
  detail::MemoryDisplayMouseMove(stranger, 1, 1);
  detail::MemoryDisplayCover(stranger, {0, 0, 10, 10});
  detail::MemoryDisplayUncover(stranger);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(detail::MemoryDisplayClientPixels(stranger).width, 0);
}

TEST_F(MemoryDisplayTest, SelectionIsFixedOnceUsed) {
  OpenRedWindow();
  EXPECT_FALSE(detail::SelectDisplay(detail::DisplayKind::Sdl));
  EXPECT_TRUE(detail::SelectDisplay(detail::DisplayKind::Memory));
  EXPECT_EQ(detail::SelectedDisplay(), detail::DisplayKind::Memory);
}

}  // namespace
}  // namespace user_test
