// Palette, background colour and mode, fill masks and line styles.
#include <numeric>

#include "GraphTestSupport.h"
#include "runtime/WinRTL.h"

namespace graph_test {
namespace {

constexpr std::uint32_t kBlack = kStd[0];

using GraphSettings = GraphTest;

TEST_F(GraphSettings, AfterInitColourSevenIsLightGreyOnBlack) {
  EXPECT_EQ(Shown().count(kBlack), 500u * 500u);
  Graph::Rectangle(0, 0, 9, 9, 7, true);
  EXPECT_EQ(Shown().at(5, 5), 0xC0C0C0u);
}

TEST_F(GraphSettings, EveryStandardColourDrawsItsValue) {
  for (std::uint32_t colour = 0; colour < 16; ++colour) {
    Graph::Rectangle(colour * 10, 0, colour * 10 + 9, 9, colour, true);
  }
  const Picture shown = Shown();
  for (std::uint32_t colour = 0; colour < 16; ++colour) {
    EXPECT_EQ(shown.at(static_cast<std::int32_t>(colour * 10 + 5), 5), kStd[colour]) << colour;
  }
}

TEST_F(GraphSettings, ColourNumbersUseTheirLowByte) {
  Graph::Rectangle(0, 0, 9, 9, 0x107, true);
  EXPECT_EQ(Shown().at(5, 5), kStd[7]);
}

TEST_F(GraphSettings, ThirtyTwoBitDisplayCountsAtLeastAllColours) {
  EXPECT_EQ(Graph::NumPColor, 0xFFFFFFFFu);
}

TEST_F(GraphSettings, RemapAllPaletteRefusesMoreColoursThanTheDisplayHas) {
  Graph::NumPColor = 16;
  std::vector<std::uint32_t> seventeen(17, 0x00FF0000);
  EXPECT_EQ(Graph::RemapAllPalette(seventeen), -1);
  Graph::Rectangle(0, 0, 9, 9, 7, true);
  EXPECT_EQ(Shown().at(5, 5), kStd[7]);

  std::vector<std::uint32_t> sixteen(16);
  std::iota(sixteen.begin(), sixteen.end(), 0x00102030u);
  EXPECT_EQ(Graph::RemapAllPalette(sixteen), 0);
  Graph::Rectangle(0, 0, 9, 9, 7, true);
  EXPECT_EQ(Shown().at(5, 5), 0x102037u);
}

TEST_F(GraphSettings, RemapAllPaletteKeepsRedGreenBlueOrder) {
  const std::vector<std::uint32_t> colours = {0x00000000, 0x00123456};
  EXPECT_EQ(Graph::RemapAllPalette(colours), 0);
  Graph::Rectangle(0, 0, 9, 9, 1, true);
  EXPECT_EQ(Shown().at(5, 5), 0x123456u);
}

TEST_F(GraphSettings, RemapAllPaletteTakesAtMost1024Colours) {
  std::vector<std::uint32_t> many(2000, 0x00FFFFFF);
  many[7] = 0x00ABCDEF;
  EXPECT_EQ(Graph::RemapAllPalette(many), 0);
  Graph::Rectangle(0, 0, 9, 9, 7, true);
  EXPECT_EQ(Shown().at(5, 5), 0xABCDEFu);
}

TEST_F(GraphSettings, InitPutsTheStandardPaletteBack) {
  const std::vector<std::uint32_t> grey = {0x00111111, 0x00111111};
  Graph::RemapAllPalette(grey);
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  Graph::Rectangle(0, 0, 9, 9, 7, true);
  EXPECT_EQ(Shown().at(5, 5), kStd[7]);
}

TEST_F(GraphSettings, SetBkColorReturnsThePreviousColour) {
  EXPECT_EQ(Graph::SetBkColor(3), 0u);
  EXPECT_EQ(Graph::SetBkColor(5), 3u);
  EXPECT_EQ(Graph::SetBkColor(0), 5u);
}

TEST_F(GraphSettings, HatchGapsShowTheBackgroundWhenOpaque) {
  Graph::Rectangle(0, 0, 499, 499, 8, true);
  Graph::SetBkColor(1);
  Graph::SetStdFillMask(Graph::PATSYM_DENSE2);
  Graph::Rectangle(20, 20, 219, 219, 12, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.at(52, 51), kStd[12]);  // vertical hatch: x % 8 == 4
  EXPECT_EQ(shown.at(50, 51), kStd[12]);  // horizontal hatch: y % 8 == 3
  EXPECT_EQ(shown.at(50, 50), kStd[1]);   // gap
  EXPECT_EQ(shown.at(20, 50), kStd[12]);  // border
}

TEST_F(GraphSettings, HatchGapsKeepTheOldPixelsWhenTransparent) {
  Graph::Rectangle(0, 0, 499, 499, 8, true);
  Graph::SetBkColor(1);
  Graph::SetBkMix(false);
  Graph::SetStdFillMask(Graph::PATSYM_DENSE2);
  Graph::Rectangle(20, 20, 219, 219, 12, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.at(52, 51), kStd[12]);
  EXPECT_EQ(shown.at(50, 50), kStd[8]);
}

TEST_F(GraphSettings, EveryStandardMaskFillsLikeItsHatchBrush) {
  const std::array<std::uint32_t, 7> masks = {
      Graph::PATSYM_HORIZ,  Graph::PATSYM_VERT,   Graph::PATSYM_DIAG2, Graph::PATSYM_DIAG1,
      Graph::PATSYM_DENSE2, Graph::PATSYM_DENSE1, Graph::PATSYM_SOLID};
  Graph::SetBkColor(1);
  for (std::size_t i = 0; i < masks.size(); ++i) {
    Graph::SetStdFillMask(masks[i]);
    const auto left = static_cast<std::uint32_t>(i * 60);
    Graph::Rectangle(left, 0, left + 49, 49, 12, true);
    Graph::Ellipse(left + 25, 100, 24, 30, 10, true);
  }
  const Picture shown = Shown();
  const Picture expected = Recipe([&masks](win32::HDC dc) {
    win32::SetBkColor(dc, WinRTL::PALETTEINDEX(1));
    for (std::size_t i = 0; i < masks.size(); ++i) {
      const bool solid = masks[i] == 8;
      const auto style = solid ? win32::BS_SOLID : win32::BS_HATCHED;
      const auto left = static_cast<int>(i * 60);
      {
        Tools fill(dc, win32::PS_SOLID, 12, style, masks[i]);
        win32::Rectangle(dc, left, 0, left + 50, 50);
      }
      Tools fill(dc, win32::PS_SOLID, 10, style, masks[i]);
      win32::Ellipse(dc, left + 1, 70, left + 49, 130);
    }
  });
  EXPECT_EQ(shown, expected) << Differences(shown, expected);
}

// As SetLinestyle does with a number that is no line style.
TEST_F(GraphSettings, NumberOutsideTheMasksKeepsTheCurrentMask) {
  Graph::SetBkColor(1);
  Graph::SetStdFillMask(Graph::PATSYM_DENSE1);
  for (std::uint32_t unknown : {6u, 7u, 9u, 0xFFFFFFFFu}) Graph::SetStdFillMask(unknown);
  EXPECT_EQ(Graph::GetStdFillMask(), Graph::PATSYM_DENSE1);
  Graph::Rectangle(0, 0, 49, 49, 12, true);
  const Picture shown = Shown();
  const Picture expected = Recipe([](win32::HDC dc) {
    win32::SetBkColor(dc, WinRTL::PALETTEINDEX(1));
    Tools fill(dc, win32::PS_SOLID, 12, win32::BS_HATCHED, Graph::PATSYM_DENSE1);
    win32::Rectangle(dc, 0, 0, 50, 50);
  });
  EXPECT_EQ(shown, expected) << Differences(shown, expected);
}

TEST_F(GraphSettings, PatternMaskFillsLikeAPatternBrush) {
  const std::array<std::uint8_t, 8> mask = {0xAA, 0x55, 0xAA, 0x55, 0xF0, 0x0F, 0x81, 0x18};
  Graph::SetBkColor(1);
  Graph::SetFillMask(mask);
  Graph::Rectangle(10, 10, 249, 249, 14, true);
  Graph::Ellipse(375, 130, 110, 120, 12, true);
  const Picture shown = Shown();
  const Picture expected = Recipe([&mask](win32::HDC dc) {
    win32::SetBkColor(dc, WinRTL::PALETTEINDEX(1));
    std::array<win32::WORD, 8> rows{};
    for (std::size_t i = 0; i < 8; ++i) rows[i] = static_cast<win32::WORD>(255 - mask[i]);
    win32::HBITMAP pattern = win32::CreateBitmap(8, 8, 1, 1, rows.data());
    const auto hatch = reinterpret_cast<win32::ULONG_PTR>(pattern);
    win32::SetTextColor(dc, WinRTL::PALETTEINDEX(14));
    {
      Tools fill(dc, win32::PS_SOLID, 14, win32::BS_PATTERN, hatch);
      win32::Rectangle(dc, 10, 10, 250, 250);
    }
    win32::SetTextColor(dc, WinRTL::PALETTEINDEX(12));
    {
      Tools fill(dc, win32::PS_SOLID, 12, win32::BS_PATTERN, hatch);
      win32::Ellipse(dc, 265, 10, 485, 250);
    }
    win32::DeleteObject(pattern);
  });
  EXPECT_EQ(shown, expected) << Differences(shown, expected);
}

TEST_F(GraphSettings, FullMaskFillsInTheFillColourAndEmptyMaskInTheBackground) {
  Graph::SetBkColor(1);
  Graph::SetFillMask({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  Graph::Rectangle(10, 260, 249, 489, 10, true);
  Graph::SetFillMask({0, 0, 0, 0, 0, 0, 0, 0});
  Graph::Rectangle(260, 260, 489, 489, 10, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.count(kStd[10]), 240u * 230u + 2u * 230u + 2u * 228u);  // 2nd: border only
  for (int y = 261; y < 489; ++y) {
    for (int x = 261; x < 489; ++x) ASSERT_EQ(shown.at(x, y), kStd[1]) << x << "," << y;
  }
}

TEST_F(GraphSettings, GetStdFillMaskKeepsTheStandardMaskUnderACustomOne) {
  EXPECT_EQ(Graph::GetStdFillMask(), 8u);
  Graph::SetStdFillMask(Graph::PATSYM_VERT);
  Graph::SetFillMask({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(Graph::GetStdFillMask(), 1u);
}

TEST_F(GraphSettings, StandardMaskNumbersAreTheHatchStyles) {
  EXPECT_EQ(Graph::PATSYM_HORIZ, 0u);
  EXPECT_EQ(Graph::PATSYM_VERT, 1u);
  EXPECT_EQ(Graph::PATSYM_DIAG2, 2u);
  EXPECT_EQ(Graph::PATSYM_DIAG1, 3u);
  EXPECT_EQ(Graph::PATSYM_DENSE2, 4u);
  EXPECT_EQ(Graph::PATSYM_DENSE1, 5u);
  EXPECT_EQ(Graph::PATSYM_SOLID, 8u);
}

TEST_F(GraphSettings, LineStylesMatchTheirPens) {
  const std::array<win32::UINT, 6> pens = {win32::PS_SOLID,   win32::PS_DOT,        win32::PS_DASH,
                                           win32::PS_DASHDOT, win32::PS_DASHDOTDOT, win32::PS_NULL};
  Graph::SetBkColor(4);
  for (std::uint32_t style = 0; style < 6; ++style) {
    Graph::SetLinestyle(style);
    const std::uint32_t top = style * 80;
    Graph::Circle(40, top + 40, 35, 15);
    Graph::Rectangle(100, top + 5, 200, top + 75, 15, false);
    Graph::Ellipse(350, top + 40, 130, 0, 15, false);
  }
  const Picture shown = Shown();
  const Picture expected = Recipe([&pens](win32::HDC dc) {
    win32::SetBkColor(dc, WinRTL::PALETTEINDEX(4));
    for (int style = 0; style < 6; ++style) {
      const int top = style * 80;
      const win32::UINT pen = pens[static_cast<std::size_t>(style)];
      {
        Tools outline(dc, pen, 15, win32::BS_NULL);
        win32::Arc(dc, 5, top + 5, 75, top + 75, 0, 0, 0, 0);
      }
      {
        Tools outline(dc, pen, 15, win32::BS_NULL);
        win32::Rectangle(dc, 100, top + 5, 201, top + 76);
      }
      Tools outline(dc, pen, 15, win32::BS_NULL);
      win32::MoveToEx(dc, 220, top + 40, nullptr);
      win32::LineTo(dc, 480, top + 40);
      win32::SetPixelV(dc, 480, top + 40, WinRTL::PALETTEINDEX(15));
    }
  });
  EXPECT_EQ(shown, expected) << Differences(shown, expected);
}

TEST_F(GraphSettings, DottedOutlineHasGapsInTheBackgroundColour) {
  Graph::SetBkColor(4);
  Graph::SetLinestyle(1);
  Graph::Rectangle(200, 50, 300, 150, 15, false);
  const Picture shown = Shown();
  EXPECT_GT(shown.count(kStd[15]), 100u);
  EXPECT_GT(shown.count(kStd[4]), 100u);
  EXPECT_EQ(shown.count(kStd[15]) + shown.count(kStd[4]), 400u);
}

TEST_F(GraphSettings, FilledShapesKeepASolidBorderWhateverTheLineStyle) {
  for (std::uint32_t style : {1u, 5u}) {
    Graph::ClearScreen(0);
    Graph::SetLinestyle(style);
    Graph::SetStdFillMask(Graph::PATSYM_VERT);
    Graph::Rectangle(200, 50, 300, 150, 15, true);
    const Picture shown = Shown();
    for (int x = 200; x <= 300; ++x) {
      EXPECT_EQ(shown.at(x, 50), kStd[15]) << style << " " << x;
      EXPECT_EQ(shown.at(x, 150), kStd[15]) << style << " " << x;
    }
  }
}

TEST_F(GraphSettings, InvisibleOutlinesDrawNothingButALineEnd) {
  Graph::SetLinestyle(5);
  Graph::Circle(100, 100, 50, 7);
  Graph::Rectangle(180, 180, 220, 220, 7, false);
  Graph::Ellipse(300, 300, 20, 0, 7, false);
  const Picture shown = Shown();
  EXPECT_EQ(shown.count(kStd[7]), 1u);
  EXPECT_EQ(shown.at(320, 300), kStd[7]);
}

TEST_F(GraphSettings, UnknownLineStyleKeepsTheCurrentOne) {
  Graph::SetLinestyle(1);
  Graph::SetLinestyle(6);
  Graph::SetLinestyle(0xFFFFFFFFu);
  Graph::Rectangle(200, 50, 300, 150, 15, false);
  const Picture dotted = Shown();
  Graph::ClearScreen(0);
  Graph::SetLinestyle(1);
  Graph::Rectangle(200, 50, 300, 150, 15, false);
  EXPECT_EQ(Shown(), dotted);
  EXPECT_LT(dotted.count(kStd[15]), 400u);
}

TEST_F(GraphSettings, InitSetsTheLineStyleBackToSolid) {
  Graph::SetLinestyle(5);
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  Graph::Rectangle(200, 50, 300, 150, 15, false);
  EXPECT_EQ(Shown().count(kStd[15]), 400u);
}

}  // namespace
}  // namespace graph_test
