// Boxes, ellipses, arcs and lines: edges, corners, degenerate and huge
// figures, clipping.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "platform/gdi/EllipsePath.h"
#include "tests/platform/gdi/GdiTestSupport.h"

using namespace win32;
using gditest::C;
using gditest::Canvas;
using gditest::Picture;
using gditest::StdColour;

namespace {

constexpr std::uint32_t kBlack = 0;

// Pixels of a picture that are not black.
std::set<std::pair<int, int>> litPixels(const Picture& picture) {
  std::set<std::pair<int, int>> lit;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (picture.at(x, y) != kBlack) lit.insert({x, y});
    }
  }
  return lit;
}

// Draws with a pen and brush made for the call.
template <class Draw>
void withTools(HDC dc, UINT penStyle, COLORREF penColour, LOGBRUSH brush, Draw&& draw) {
  const LOGPEN logPen{penStyle, {1, 0}, penColour};
  HPEN pen = CreatePenIndirect(&logPen);
  HBRUSH made = CreateBrushIndirect(&brush);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, made);
  draw();
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(pen);
  DeleteObject(made);
}

const LOGBRUSH kNoBrush{BS_NULL, 0, 0};

TEST(GdiRectangles, CornersAreInAndRightAndBottomEdgesOut) {
  Canvas canvas;
  withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush, [&] { Rectangle(canvas.dc(), 10, 10, 20, 20); });
  for (auto [x, y] : {std::pair{10, 10}, {19, 10}, {10, 19}, {19, 19}}) {
    EXPECT_EQ(canvas.pixel(x, y), StdColour(7)) << x << "," << y;
  }
  for (int k = 9; k <= 21; ++k) {
    EXPECT_EQ(canvas.pixel(20, k), kBlack);
    EXPECT_EQ(canvas.pixel(k, 20), kBlack);
  }
  EXPECT_EQ(canvas.pixel(15, 15), kBlack);  // no brush: the inside stays
  EXPECT_EQ(litPixels(canvas.picture()).size(), 36u);
}

TEST(GdiRectangles, CornersInAnyOrderGiveTheSameBox) {
  Canvas forward, backward, mixed;
  withTools(forward.dc(), PS_SOLID, C(7), {BS_SOLID, C(4), 0},
            [&] { Rectangle(forward.dc(), 30, 40, 90, 70); });
  withTools(backward.dc(), PS_SOLID, C(7), {BS_SOLID, C(4), 0},
            [&] { Rectangle(backward.dc(), 90, 70, 30, 40); });
  withTools(mixed.dc(), PS_SOLID, C(7), {BS_SOLID, C(4), 0},
            [&] { Rectangle(mixed.dc(), 90, 40, 30, 70); });
  EXPECT_EQ(forward.picture().pixels, backward.picture().pixels);
  EXPECT_EQ(forward.picture().pixels, mixed.picture().pixels);
  EXPECT_EQ(forward.pixel(89, 69), StdColour(7));
  EXPECT_EQ(forward.pixel(50, 50), StdColour(4));
}

// A 1 x 1 box draws nothing either, with any pen and brush: random scene 1019
// has Rectangle(134,354,135,355) and 1171 Ellipse(233,353,234,354).
TEST(GdiRectangles, EmptyAndOnePixelBoxesDrawNothing) {
  for (UINT style : {PS_SOLID, PS_DOT, PS_NULL}) {
    Canvas canvas;
    withTools(canvas.dc(), style, C(7), {BS_SOLID, C(7), 0}, [&] {
      Rectangle(canvas.dc(), 10, 10, 10, 30);
      Rectangle(canvas.dc(), 10, 50, 30, 50);
      Rectangle(canvas.dc(), 100, 100, 101, 101);
      Rectangle(canvas.dc(), 121, 121, 120, 120);
      Ellipse(canvas.dc(), 200, 200, 201, 201);
      Ellipse(canvas.dc(), 221, 221, 220, 220);
    });
    EXPECT_TRUE(litPixels(canvas.picture()).empty()) << style;
  }
}

TEST(GdiRectangles, NullPenFillsOnePixelLessEachWay) {
  Canvas canvas;
  withTools(canvas.dc(), PS_NULL, C(7), {BS_SOLID, C(7), 0},
            [&] { Rectangle(canvas.dc(), 10, 10, 20, 20); });
  const auto lit = litPixels(canvas.picture());
  EXPECT_EQ(lit.size(), 81u);
  EXPECT_TRUE(lit.count({10, 10}));
  EXPECT_TRUE(lit.count({18, 18}));
  EXPECT_FALSE(lit.count({19, 19}));
}

TEST(GdiRectangles, HugeBoxesClipToTheSurface) {
  Canvas outline, filled, partial;
  withTools(outline.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Rectangle(outline.dc(), INT_MIN, INT_MIN, INT_MAX, INT_MAX); });
  EXPECT_TRUE(litPixels(outline.picture()).empty());
  withTools(filled.dc(), PS_SOLID, C(7), {BS_SOLID, C(2), 0},
            [&] { Rectangle(filled.dc(), INT_MIN, INT_MIN, INT_MAX, INT_MAX); });
  const Picture all = filled.picture();
  for (std::uint32_t p : all.pixels) ASSERT_EQ(p, StdColour(2));
  withTools(partial.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Rectangle(partial.dc(), -2000000000, -7, 100, 2000000000); });
  const auto lit = litPixels(partial.picture());
  EXPECT_EQ(lit.size(), 500u);  // only the right edge is in sight
  EXPECT_TRUE(lit.count({99, 0}));
  EXPECT_TRUE(lit.count({0, 499}) == 0);
}

// The outline pixels of an ellipse box from the plain quadrant path, mirrored.
std::set<std::pair<int, int>> outlineOf(int l, int t, int r, int b) {
  const std::int64_t w = r - l, h = b - t;
  const detail::QuadrantPath path(w, h);
  std::set<std::pair<int, int>> pixels;
  for (const detail::PathPoint& p : path.allPoints()) {
    for (std::int64_t x : {l + (w - 1) - p.i, l + p.i}) {
      for (std::int64_t y : {t + h / 2 + p.j, t + path.lastRow() - p.j}) {
        pixels.insert({static_cast<int>(x), static_cast<int>(y)});
      }
    }
  }
  return pixels;
}

TEST(GdiEllipses, OutlineStaysInsideTheBoxAndTouchesAllFourSides) {
  Canvas canvas;
  withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush, [&] { Ellipse(canvas.dc(), 20, 30, 121, 90); });
  const auto lit = litPixels(canvas.picture());
  EXPECT_EQ(lit, outlineOf(20, 30, 121, 90));
  int left = 500, top = 500, right = 0, bottom = 0;
  for (auto [x, y] : lit) {
    left = std::min(left, x), top = std::min(top, y);
    right = std::max(right, x), bottom = std::max(bottom, y);
  }
  EXPECT_EQ(left, 20);
  EXPECT_EQ(top, 30);
  EXPECT_EQ(right, 120);
  EXPECT_EQ(bottom, 89);
}

TEST(GdiEllipses, FillStaysInsideTheOutline) {
  Canvas canvas;
  withTools(canvas.dc(), PS_SOLID, C(15), {BS_SOLID, C(2), 0},
            [&] { Ellipse(canvas.dc(), 40, 40, 141, 100); });
  const Picture picture = canvas.picture();
  const auto outline = outlineOf(40, 40, 141, 100);
  for (int y = 0; y < 500; ++y) {
    int first = 500, last = -1;
    for (auto [x, yy] : outline) {
      if (yy == y) first = std::min(first, x), last = std::max(last, x);
    }
    for (int x = 0; x < 500; ++x) {
      const std::uint32_t expected = outline.count({x, y})     ? StdColour(15)
                                     : (x > first && x < last) ? StdColour(2)
                                                               : kBlack;
      ASSERT_EQ(picture.at(x, y), expected) << x << "," << y;
    }
  }
}

// The brush covers the whole ellipse, outline included, before the pen draws:
// a styled pen's gaps in TRANSPARENT mode show the brush (random scene 1004:
// Ellipse(312,109,391,143) pen DASHDOT, hatched brush, TRANSPARENT).
TEST(GdiEllipses, BrushShowsInTheGapsOfAStyledPen) {
  Canvas canvas;
  SetBkMode(canvas.dc(), TRANSPARENT);
  withTools(canvas.dc(), PS_DASHDOT, C(15), {BS_SOLID, C(2), 0},
            [&] { Ellipse(canvas.dc(), 40, 40, 141, 100); });
  const Picture picture = canvas.picture();
  int gaps = 0;
  for (auto [x, y] : outlineOf(40, 40, 141, 100)) {
    const std::uint32_t p = picture.at(x, y);
    ASSERT_TRUE(p == StdColour(15) || p == StdColour(2)) << x << "," << y;
    gaps += p == StdColour(2) ? 1 : 0;
  }
  EXPECT_GT(gaps, 50);
  EXPECT_EQ(picture.at(90, 70), StdColour(2));
}

// Boxes wider than 46342 pixels with an even height start the walk with the
// a^2 term wrapped to 32 bits, as the reference pictures show; the outline
// then takes the other pixel where the curve passes almost half-way between
// two (random scenes 1022, 1047 and 1060; 1022 alone:
// Ellipse(-96407,-634,242,1114)).
TEST(GdiEllipses, VeryWideBoxesWrapTheWalksStartTerm) {
  Canvas canvas;
  withTools(canvas.dc(), PS_SOLID, C(3), {BS_SOLID, C(6), 0},
            [&] { Ellipse(canvas.dc(), -96407, -634, 242, 1114); });
  EXPECT_EQ(canvas.pixel(138, 296), StdColour(6));
  EXPECT_EQ(canvas.pixel(138, 297), StdColour(3));
  Canvas other;
  withTools(other.dc(), PS_SOLID, C(8), kNoBrush,
            [&] { Arc(other.dc(), 372, -2398, 68593, 3216, 0, 0, 0, 0); });
  EXPECT_EQ(other.pixel(397, 300), StdColour(8));
  EXPECT_EQ(other.pixel(398, 300), StdColour(0));
}

TEST(GdiEllipses, NarrowBoxesAreDrawnAsBoxes) {
  Canvas ellipse, box;
  withTools(ellipse.dc(), PS_SOLID, C(7), {BS_SOLID, C(3), 0}, [&] {
    Ellipse(ellipse.dc(), 10, 10, 12, 60);
    Ellipse(ellipse.dc(), 30, 10, 100, 12);
    Ellipse(ellipse.dc(), 200, 10, 200, 60);  // empty
  });
  withTools(box.dc(), PS_SOLID, C(7), {BS_SOLID, C(3), 0}, [&] {
    Rectangle(box.dc(), 10, 10, 12, 60);
    Rectangle(box.dc(), 30, 10, 100, 12);
  });
  EXPECT_EQ(ellipse.picture().pixels, box.picture().pixels);
}

TEST(GdiEllipses, InvertedCornersGiveTheSameEllipse) {
  Canvas forward, backward;
  withTools(forward.dc(), PS_SOLID, C(7), {BS_HATCHED, C(5), HS_CROSS},
            [&] { Ellipse(forward.dc(), 10, 20, 200, 150); });
  withTools(backward.dc(), PS_SOLID, C(7), {BS_HATCHED, C(5), HS_CROSS},
            [&] { Ellipse(backward.dc(), 200, 150, 10, 20); });
  EXPECT_EQ(forward.picture().pixels, backward.picture().pixels);
}

TEST(GdiEllipses, HugeEllipseAroundTheSurfaceFillsItAndShowsNoOutline) {
  Canvas outline, filled;
  withTools(outline.dc(), PS_SOLID, C(7), kNoBrush, [&] {
    Ellipse(outline.dc(), -2000000000, -2000000000, 2000000000, 2000000000);
    Arc(outline.dc(), INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 0, 0);
  });
  EXPECT_TRUE(litPixels(outline.picture()).empty());
  withTools(filled.dc(), PS_SOLID, C(7), {BS_SOLID, C(9), 0},
            [&] { Ellipse(filled.dc(), INT_MIN, INT_MIN, INT_MAX, INT_MAX); });
  for (std::uint32_t p : filled.picture().pixels) ASSERT_EQ(p, StdColour(9));
}

TEST(GdiEllipses, HugeEllipseCrossingTheSurfaceDrawsAConnectedCurve) {
  Canvas canvas;
  // Centre far to the left, middle row 250: the right end of the curve runs
  // down the surface at x = 250.
  withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Ellipse(canvas.dc(), -2000000000, -2000000000, 251, 2000000500); });
  const auto lit = litPixels(canvas.picture());
  for (int y = 0; y < 500; ++y) {
    int count = 0;
    for (int x = 0; x < 500; ++x) count += lit.count({x, y}) ? 1 : 0;
    ASSERT_GE(count, 1) << "row " << y;
    ASSERT_TRUE(lit.count({250, y}) || lit.count({249, y})) << "row " << y;
  }
}

TEST(GdiEllipses, HugeFlatAndTallBoxesGiveBands) {
  Canvas flat, tall;
  withTools(flat.dc(), PS_SOLID, C(7), kNoBrush, [&] {
    Ellipse(flat.dc(), INT_MIN, 100, INT_MAX, 104);
    Arc(flat.dc(), -2000000000, 200, 2000000000, 203, INT_MAX, 201, INT_MAX, 201);
  });
  withTools(tall.dc(), PS_DOT, C(7), kNoBrush, [&] {
    Ellipse(tall.dc(), 100, INT_MIN, 104, INT_MAX);
    Arc(tall.dc(), 200, -2000000000, 203, 2000000000, 7, 7, 7, 7);
  });
  const auto flatLit = litPixels(flat.picture());
  const auto tallLit = litPixels(tall.picture());
  for (int k = 0; k < 500; ++k) {
    ASSERT_TRUE(flatLit.count({k, 100}) && flatLit.count({k, 103})) << k;
    ASSERT_TRUE(flatLit.count({k, 200}) && flatLit.count({k, 202})) << k;
  }
  // The dotted sides keep one phase all the way down: three pixels on, three
  // off, counted along the outline from its start far above the surface.
  for (int k = 0; k + 3 < 500; ++k) {
    for (int x : {100, 103})
      ASSERT_NE(tallLit.count({x, k}), tallLit.count({x, k + 3})) << x << "," << k;
  }
  for (auto [x, y] : flatLit) ASSERT_TRUE(y == 100 || y == 103 || y == 200 || y == 202) << y;
  for (auto [x, y] : tallLit) ASSERT_TRUE(x == 100 || x == 103 || x == 200 || x == 202) << x;
}

TEST(GdiEllipses, ClippedLargeOutlineMatchesTheUnclippedOne) {
  // A box big enough for the searched drawing, shown whole on a large canvas
  // and in pieces on a small one.
  Canvas whole(2400, 900);
  withTools(whole.dc(), PS_SOLID, C(7), {BS_HATCHED, C(6), HS_BDIAGONAL},
            [&] { Ellipse(whole.dc(), 3, 5, 2303, 805); });
  const Picture big = whole.picture();
  for (auto [dx, dy] : {std::pair{0, 0}, {1000, 300}, {1900, 400}, {-100, -50}}) {
    Canvas part(500, 500);
    withTools(part.dc(), PS_SOLID, C(7), {BS_HATCHED, C(6), HS_BDIAGONAL}, [&] {
      SetBkColor(part.dc(), C(0));
      Ellipse(part.dc(), 3 - dx, 5 - dy, 2303 - dx, 805 - dy);
    });
    const Picture small = part.picture();
    for (int y = 0; y < 500; ++y) {
      for (int x = 0; x < 500; ++x) {
        const int bx = x + dx, by = y + dy;
        if (bx < 0 || by < 0 || bx >= big.width || by >= big.height) continue;
        // The hatch is anchored at each surface's own origin.
        if (((dx | dy) & 7) != 0) continue;
        ASSERT_EQ(small.at(x, y), big.at(bx, by)) << x << "," << y << " offset " << dx;
      }
    }
  }
}

TEST(GdiArcs, LeaveOutOnePixelWhereTheRadialMeetsTheCurve) {
  Canvas canvas;
  withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Arc(canvas.dc(), 50, 50, 150, 150, 0, 0, 0, 0); });
  auto expected = outlineOf(50, 50, 150, 150);
  expected.erase({65, 64});
  EXPECT_EQ(litPixels(canvas.picture()), expected);
}

TEST(GdiArcs, RunCounterClockwiseFromStartToEnd) {
  Canvas canvas;
  // From the radial to the right to the radial upwards: the top-right quarter.
  withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Arc(canvas.dc(), 100, 100, 201, 201, 300, 150, 150, 0); });
  const auto lit = litPixels(canvas.picture());
  ASSERT_FALSE(lit.empty());
  for (auto [x, y] : lit) {
    EXPECT_GE(x, 150);
    EXPECT_LE(y, 150);
  }
  EXPECT_TRUE(lit.count({200, 150}));
}

// Index in the counter-clockwise loop of the four mirrored quadrants (from
// the middle of the right edge) where the radial towards (x, y) meets the
// outline; (x, y) is relative to the centre with y upwards, points is the
// quadrant path and lastColumn its last column. A plain scan of the walked
// path, to hold the rasteriser's search along the path against.
std::size_t LoopIndexOfRadial(const std::vector<detail::PathPoint>& points, std::int64_t lastColumn,
                              detail::Wide x, detail::Wide y) {
  using detail::Wide;
  const std::size_t count = points.size();
  auto px = [&](std::size_t m) { return static_cast<Wide>(lastColumn - points[m].i); };
  auto py = [&](std::size_t m) { return static_cast<Wide>(points[m].j); };
  std::size_t m = 0;
  if (y >= 0 && x >= 0) {
    while (m < count && !(px(m) * y <= py(m) * x)) ++m;
    return m;
  }
  if (y >= 0) {
    while (m < count && !(px(m) * y < py(m) * -x)) ++m;
    return 2 * count - m;
  }
  if (x >= 0) {
    while (m < count && !(px(m) * -y <= py(m) * x)) ++m;
    return 4 * count - m;
  }
  while (m < count && !(px(m) * -y < py(m) * -x)) ++m;
  return 2 * count + m;
}

// The arc as a pixel sequence, the way small arcs are drawn: the loop of the
// four mirrored quadrants, counter-clockwise from the middle of the right
// edge, cut at the radials, repeats merged and the last pixel left out.
std::vector<std::pair<int, int>> arcSequence(int l, int t, int r, int b, POINT from, POINT to) {
  const std::int64_t w = r - l, h = b - t;
  const detail::QuadrantPath path(w, h);
  const std::vector<detail::PathPoint> points = path.allPoints();
  const std::int64_t count = static_cast<std::int64_t>(points.size());
  auto place = [&](std::int64_t k) {
    const int q = static_cast<int>((k / count) % 4);
    const std::int64_t m = k % count;
    const detail::PathPoint& p = points[static_cast<std::size_t>(q % 2 == 0 ? m : count - 1 - m)];
    const std::int64_t x = (q == 0 || q == 3) ? l + (w - 1) - p.i : l + p.i;
    const std::int64_t y = q <= 1 ? t + path.lastRow() - p.j : t + h / 2 + p.j;
    return std::pair<int, int>{static_cast<int>(x), static_cast<int>(y)};
  };
  auto radial = [&](POINT v) {
    const detail::Wide x = v.x - (l + w / 2), y = (t + h / 2) - v.y;
    return static_cast<std::int64_t>(LoopIndexOfRadial(points, path.lastColumn(), x, y));
  };
  const std::int64_t first = radial(from);
  std::int64_t last = radial(to);
  if (last <= first) last += 4 * count;
  std::vector<std::pair<int, int>> sequence;
  for (std::int64_t k = first; k < last; ++k) {
    if (sequence.empty() || sequence.back() != place(k)) sequence.push_back(place(k));
  }
  sequence.pop_back();
  return sequence;
}

std::set<std::pair<int, int>> arcModel(int l, int t, int r, int b, POINT from, POINT to) {
  const std::vector<std::pair<int, int>> sequence = arcSequence(l, t, r, b, from, to);
  return {sequence.begin(), sequence.end()};
}

TEST(GdiArcs, LargeArcsEndAndLeaveOutAPixelLikeSmallOnes) {
  // Boxes past the size that small arcs are walked whole at.
  const RECT boxes[] = {{40, 30, 1341, 1130}, {7, 3, 1506, 602}, {11, 20, 612, 1821}};
  const POINT radials[] = {{0, 0}, {2000, 580}, {660, -100}, {-50, 600}, {700, 2000}, {690, 580}};
  for (const RECT& box : boxes) {
    for (const POINT& from : radials) {
      for (const POINT& to : {radials[0], radials[2], radials[4], from}) {
        Canvas canvas(1600, 1900);
        withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush, [&] {
          Arc(canvas.dc(), box.left, box.top, box.right, box.bottom, from.x, from.y, to.x, to.y);
        });
        ASSERT_EQ(litPixels(canvas.picture()),
                  arcModel(box.left, box.top, box.right, box.bottom, from, to))
            << "box " << box.left << "," << box.top << " from " << from.x << "," << from.y << " to "
            << to.x << "," << to.y;
      }
    }
  }
}

// The style runs one step per outline pixel from the arc's start (for an
// Ellipse the middle of the right edge), counter-clockwise round the whole
// loop, whatever the size (random scene 1001: Arc(-2444,-1666,1988,3230,
// 97,411,-350,904) pen DASHDOTDOT). Checked against the arc walked pixel by
// pixel on boxes past a thousand steps a quadrant.
TEST(GdiArcs, StylePhaseCountsEveryPixelFromTheStart) {
  const RECT boxes[] = {
      {40, 30, 1341, 1130}, {7, 3, 1506, 602}, {11, 20, 612, 1821}, {5, 8, 1500, 41}};
  const POINT radials[] = {{0, 0}, {2000, 580}, {-50, 600}, {700, 2000}};
  for (const RECT& box : boxes) {
    for (const POINT& from : radials) {
      const POINT to = radials[2];
      Canvas canvas(1600, 1900);
      SetBkColor(canvas.dc(), C(4));
      withTools(canvas.dc(), PS_DOT, C(7), kNoBrush, [&] {
        Arc(canvas.dc(), box.left, box.top, box.right, box.bottom, from.x, from.y, to.x, to.y);
      });
      const Picture picture = canvas.picture();
      const std::vector<std::pair<int, int>> sequence =
          arcSequence(box.left, box.top, box.right, box.bottom, from, to);
      std::map<std::pair<int, int>, std::uint32_t> expected;
      for (std::size_t k = 0; k < sequence.size(); ++k) {
        expected[sequence[k]] = k % 6 < 3 ? StdColour(7) : StdColour(4);
      }
      for (const auto& [pixel, colour] : expected) {
        ASSERT_EQ(picture.at(pixel.first, pixel.second), colour)
            << pixel.first << "," << pixel.second << " box " << box.left << "," << box.top
            << " from " << from.x << "," << from.y;
      }
    }
  }
}

// Radials that meet the outline at one place draw the whole ellipse less its
// last pixel, whichever way round they are (Arc(440,26,689,28,307,-118,
// 303,-19) on a flat box). A radial just below the start of the loop meets
// it at the loop's end, so from there to one just above it is nothing
// (random scene 1163: Arc(224,359,222,361,248,485,310,273)), and the other
// way round the whole loop.
TEST(GdiArcs, RadialsMeetingAtOnePlaceDrawAllOrNothing) {
  Canvas less, more;
  withTools(less.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Arc(less.dc(), 224, 359, 222, 361, 248, 485, 310, 273); });
  EXPECT_TRUE(litPixels(less.picture()).empty());
  withTools(more.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Arc(more.dc(), 224, 359, 222, 361, 310, 273, 248, 485); });
  EXPECT_EQ(litPixels(more.picture()).size(), 3u);
  Canvas flat;
  withTools(flat.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Arc(flat.dc(), 440, 26, 689, 28, 307, -118, 303, -19); });
  const auto lit = litPixels(flat.picture());
  EXPECT_EQ(lit.size(), 120u);
  for (int x = 440; x < 500; ++x) EXPECT_TRUE(lit.count({x, 26}) && lit.count({x, 27})) << x;
}

// Arcs on flat and small boxes (height or width 1 to 4, corners either way
// round) with radials at many angles on both sides, as the reference GDI drew
// them: tests/data/gdi-random/flat-arcs.txt.xz, one scene a line,
// "l t r b xs ys xe ye|lit pixels" with the pixels of a 400 x 300 canvas as
// runs "y:x0-x1,x2-x3" per row, a space between rows.
std::string litRuns(const Picture& picture) {
  std::string runs;
  for (int y = 0; y < picture.height; ++y) {
    bool rowStarted = false;
    for (int x = 0; x < picture.width; ++x) {
      if (picture.at(x, y) == 0) continue;
      int end = x;
      while (end + 1 < picture.width && picture.at(end + 1, y) != 0) ++end;
      if (rowStarted) {
        runs += ',';
      } else {
        if (!runs.empty()) runs += ' ';
        runs += std::to_string(y);
        runs += ':';
      }
      runs += std::to_string(x);
      runs += '-';
      runs += std::to_string(end);
      rowStarted = true;
      x = end;
    }
  }
  return runs;
}

TEST(GdiArcs, FlatAndSmallBoxesMatchTheReference) {
  const std::vector<std::uint8_t> bytes =
      gditest::ReadXzFile(std::string(GDI_RANDOM_DIR) + "/flat-arcs.txt.xz");
  std::istringstream lines(std::string(bytes.begin(), bytes.end()));
  std::string line;
  int scenes = 0;
  int differing = 0;
  Canvas canvas(400, 150);  // the scenes' pixels all lie above row 150
  HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
  while (std::getline(lines, line)) {
    const std::size_t bar = line.find('|');
    ASSERT_NE(bar, std::string::npos) << line;
    std::istringstream numbers(line.substr(0, bar));
    int v[8] = {};
    for (int& value : v) ASSERT_TRUE(numbers >> value) << line;
    const RECT whole{0, 0, 400, 150};
    FillRect(canvas.dc(), &whole, black);
    withTools(canvas.dc(), PS_SOLID, C(15), kNoBrush,
              [&] { Arc(canvas.dc(), v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]); });
    ++scenes;
    const std::string drawn = litRuns(canvas.picture());
    if (drawn == line.substr(bar + 1)) continue;
    if (++differing <= 5) ADD_FAILURE() << line << "\n drawn:" << drawn;
  }
  DeleteObject(black);
  EXPECT_EQ(scenes, 2004);
  EXPECT_EQ(differing, 0);
}

TEST(GdiArcs, ThinBoxesAreClosed) {
  // The walk alone stops short of the ends of very thin ellipses; the tips
  // are drawn down to the box edge.
  Canvas canvas;
  withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush,
            [&] { Arc(canvas.dc(), 100, 10, 103, 400, 0, 0, 0, 0); });
  const auto lit = litPixels(canvas.picture());
  for (int y = 10; y < 400; ++y) {
    ASSERT_TRUE(lit.count({100, y}) || lit.count({101, y}) || lit.count({102, y})) << y;
  }
}

TEST(GdiLines, LeaveOutTheEndAndCoverTheSamePixelsBothWays) {
  std::mt19937 random(5);
  std::uniform_int_distribution<int> coordinate(0, 499);
  for (int k = 0; k < 100; ++k) {
    const int x1 = coordinate(random), y1 = coordinate(random);
    const int x2 = coordinate(random), y2 = coordinate(random);
    Canvas there, back;
    withTools(there.dc(), PS_SOLID, C(7), kNoBrush, [&] {
      MoveToEx(there.dc(), x1, y1, nullptr);
      LineTo(there.dc(), x2, y2);
    });
    withTools(back.dc(), PS_SOLID, C(7), kNoBrush, [&] {
      MoveToEx(back.dc(), x2, y2, nullptr);
      LineTo(back.dc(), x1, y1);
    });
    auto a = litPixels(there.picture());
    auto b = litPixels(back.picture());
    if (x1 == x2 && y1 == y2) {
      EXPECT_TRUE(a.empty());
      continue;
    }
    EXPECT_FALSE(a.count({x2, y2}));
    EXPECT_TRUE(a.count({x1, y1}));
    a.insert({x2, y2});
    b.insert({x1, y1});
    ASSERT_EQ(a, b) << x1 << "," << y1 << " - " << x2 << "," << y2;
    const std::size_t expectedLength = std::max(std::abs(x2 - x1), std::abs(y2 - y1)) + 1;
    EXPECT_EQ(a.size(), expectedLength);
  }
}

TEST(GdiLines, ClippedLinesKeepTheirPixelsAndPhase) {
  std::mt19937 random(9);
  std::uniform_int_distribution<int> coordinate(-300, 800);
  for (int k = 0; k < 60; ++k) {
    const int x1 = coordinate(random), y1 = coordinate(random);
    const int x2 = coordinate(random), y2 = coordinate(random);
    Canvas whole(1200, 1200), part(500, 500);
    withTools(whole.dc(), PS_DASHDOT, C(7), kNoBrush, [&] {
      MoveToEx(whole.dc(), x1 + 300, y1 + 300, nullptr);
      LineTo(whole.dc(), x2 + 300, y2 + 300);
    });
    withTools(part.dc(), PS_DASHDOT, C(7), kNoBrush, [&] {
      SetBkMode(part.dc(), TRANSPARENT);
      MoveToEx(part.dc(), x1, y1, nullptr);
      LineTo(part.dc(), x2, y2);
    });
    const Picture big = whole.picture();
    const Picture small = part.picture();
    for (int y = 0; y < 500; ++y) {
      for (int x = 0; x < 500; ++x) {
        const bool lit = big.at(x + 300, y + 300) == StdColour(7);
        ASSERT_EQ(small.at(x, y) == StdColour(7), lit) << x << "," << y;
      }
    }
  }
}

TEST(GdiLines, HugeCoordinatesAreClippedExactly) {
  Canvas canvas;
  withTools(canvas.dc(), PS_SOLID, C(7), kNoBrush, [&] {
    MoveToEx(canvas.dc(), INT_MIN, 250, nullptr);
    LineTo(canvas.dc(), INT_MAX, 250);
    MoveToEx(canvas.dc(), -2000000000, -2000000000, nullptr);
    LineTo(canvas.dc(), 2000000000, 2000000000);
    MoveToEx(canvas.dc(), INT_MAX, INT_MIN, nullptr);
    LineTo(canvas.dc(), INT_MIN, INT_MAX);
  });
  const auto lit = litPixels(canvas.picture());
  for (int k = 0; k < 500; ++k) {
    EXPECT_TRUE(lit.count({k, 250}));
    EXPECT_TRUE(lit.count({k, k}));
  }
  for (auto [x, y] : lit) {
    if (y != 250 && x != y) {
      EXPECT_LE(std::abs(x + y - 499), 1) << x << "," << y;
    }
  }
}

TEST(GdiLines, PenStylesCountAlongThePixels) {
  Canvas canvas;
  SetBkColor(canvas.dc(), C(4));
  const std::pair<UINT, const char*> styles[] = {{PS_DOT, "+++---+++---"},
                                                 {PS_DASH, "++++++++++++++++++------++"},
                                                 {PS_DASHDOT, "+++++++++------+++------+++"},
                                                 {PS_DASHDOTDOT, "+++++++++---+++---+++---+++"},
                                                 {PS_NULL, "...."}};
  int y = 10;
  for (auto [style, pattern] : styles) {
    withTools(canvas.dc(), style, C(15), kNoBrush, [&] {
      MoveToEx(canvas.dc(), 5, y, nullptr);
      LineTo(canvas.dc(), 100, y);
    });
    for (int k = 0; pattern[k] != 0; ++k) {
      const std::uint32_t expected = pattern[k] == '+'   ? StdColour(15)
                                     : pattern[k] == '-' ? StdColour(4)
                                                         : kBlack;
      EXPECT_EQ(canvas.pixel(5 + k, y), expected) << "style " << style << " pixel " << k;
    }
    y += 10;
  }
}

TEST(GdiInvertRect, LeavesRightAndBottomOutAndUndoesItself) {
  Canvas canvas;
  canvas.fillRect(0, 0, 99, 99, 7);
  canvas.invert(10, 10, 20, 30);
  EXPECT_EQ(canvas.pixel(10, 10), 0x3F3F3Fu);
  EXPECT_EQ(canvas.pixel(19, 29), 0x3F3F3Fu);
  EXPECT_EQ(canvas.pixel(20, 29), StdColour(7));
  EXPECT_EQ(canvas.pixel(19, 30), StdColour(7));
  EXPECT_EQ(canvas.pixel(150, 150), StdColour(0));
  canvas.invert(-1000, -1000, 2000000000, 5);  // clipped
  EXPECT_EQ(canvas.pixel(150, 4), StdColour(15));
  canvas.invert(-1000, -1000, 2000000000, 5);
  canvas.invert(10, 10, 20, 30);
  canvas.invert(30, 30, 20, 40);  // right to left: columns 21 to 30
  canvas.invert(30, 30, 20, 40);
  Canvas fresh;
  fresh.fillRect(0, 0, 99, 99, 7);
  EXPECT_EQ(canvas.picture().pixels, fresh.picture().pixels);
}

// A rectangle given right to left covers the columns right + 1 to left,
// bottom to top the rows bottom + 1 to top (random scenes 1013:
// InvertRect{480,84,136,240} and 1017: FillRect{348,105,190,129}).
TEST(GdiInvertRect, ReversedRectanglesCoverFromTheSmallerEdgePlusOne) {
  const RECT rects[] = {{30, 40, 20, 35}, {20, 35, 30, 40}, {30, 35, 20, 40}, {20, 40, 30, 35}};
  for (const RECT& r : rects) {
    Canvas inverted, filled;
    InvertRect(inverted.dc(), &r);
    HBRUSH brush = CreateSolidBrush(C(7));
    FillRect(filled.dc(), &r, brush);
    DeleteObject(brush);
    std::set<std::pair<int, int>> expected;
    const int left = r.right < r.left ? r.right + 1 : r.left;
    const int right = r.right < r.left ? r.left : r.right - 1;
    const int top = r.bottom < r.top ? r.bottom + 1 : r.top;
    const int bottom = r.bottom < r.top ? r.top : r.bottom - 1;
    for (int y = top; y <= bottom; ++y) {
      for (int x = left; x <= right; ++x) expected.insert({x, y});
    }
    EXPECT_EQ(litPixels(inverted.picture()), expected) << r.left << "," << r.top;
    EXPECT_EQ(litPixels(filled.picture()), expected) << r.left << "," << r.top;
  }
}

}  // namespace
