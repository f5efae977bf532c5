// The quadrant path's row queries and window walks against the plain
// error-term walk that draws small ellipses.
#include "platform/gdi/EllipsePath.h"

#include <gtest/gtest.h>

#include <random>

using win32::detail::PathPoint;
using win32::detail::QuadrantPath;

namespace {

// The walk step by step in 64-bit terms (enough for these sizes), then the
// tip down the last column when the walk stops above the last row.
std::vector<PathPoint> plainWalk(std::int64_t w, std::int64_t h) {
  const std::int64_t a = w - 1, b = h - 1;
  const std::int64_t asq = 8 * a * a, bsq = 8 * b * b;
  std::int64_t dx = 4 * b * b * (1 - a), dy = 4 * a * a * (1 + b % 2);
  std::int64_t err = dx + dy + a * a * (b % 2);
  std::int64_t x = a, y = h / 2;
  std::vector<PathPoint> points;
  while (x >= w / 2) {
    const std::int64_t e2 = 2 * err;
    points.push_back({a - x, y - h / 2});
    if (e2 >= dx) {
      --x;
      err += dx += bsq;
    }
    if (e2 <= dy) {
      ++y;
      err += dy += asq;
    }
  }
  const std::int64_t lastRow = (h - 1) - h / 2;
  for (std::int64_t j = points.back().j + 1; j <= lastRow; ++j) points.push_back({a - w / 2, j});
  return points;
}

void expectSamePath(std::int64_t w, std::int64_t h) {
  const QuadrantPath path(w, h);
  const std::vector<PathPoint> expected = plainWalk(w, h);
  const std::vector<PathPoint> actual = path.allPoints();
  ASSERT_EQ(actual.size(), expected.size()) << w << "x" << h;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    ASSERT_EQ(actual[k].i, expected[k].i) << w << "x" << h << " point " << k;
    ASSERT_EQ(actual[k].j, expected[k].j) << w << "x" << h << " point " << k;
  }
  for (std::int64_t j = 0; j <= path.lastRow(); ++j) {
    std::int64_t first = -1, last = -1;
    for (const PathPoint& p : expected) {
      if (p.j != j) continue;
      if (first < 0) first = p.i;
      last = p.i;
    }
    const QuadrantPath::Run run = path.rowRun(j);
    ASSERT_EQ(run.first, first) << w << "x" << h << " row " << j;
    ASSERT_EQ(run.last, last) << w << "x" << h << " row " << j;
  }
}

TEST(GdiEllipsePath, RowRunsMatchTheWalkForEverySmallBox) {
  for (std::int64_t w = 1; w <= 70; ++w) {
    for (std::int64_t h = 1; h <= 70; ++h) expectSamePath(w, h);
  }
}

TEST(GdiEllipsePath, RowRunsMatchTheWalkForLargerBoxes) {
  std::mt19937 random(7);
  std::uniform_int_distribution<std::int64_t> size(1, 3000);
  for (int k = 0; k < 60; ++k) expectSamePath(size(random), size(random));
  expectSamePath(3, 2000);  // thin boxes need the tip
  expectSamePath(2000, 3);
  expectSamePath(1, 500);
}

TEST(GdiEllipsePath, RowQueriesInAnyOrderGiveTheSameRuns) {
  std::mt19937 random(3);
  for (auto [w, h] : {std::pair<std::int64_t, std::int64_t>{613, 201}, {97, 1500}, {2500, 2500}}) {
    const QuadrantPath forward(w, h);
    std::vector<QuadrantPath::Run> runs;
    for (std::int64_t j = 0; j <= forward.lastRow(); ++j) runs.push_back(forward.rowRun(j));
    const QuadrantPath backward(w, h);
    for (std::int64_t j = backward.lastRow(); j >= 0; --j) {
      ASSERT_EQ(backward.rowRun(j).first, runs[static_cast<std::size_t>(j)].first);
      ASSERT_EQ(backward.rowRun(j).last, runs[static_cast<std::size_t>(j)].last);
    }
    const QuadrantPath jumping(w, h);
    std::uniform_int_distribution<std::int64_t> row(0, jumping.lastRow());
    for (int k = 0; k < 500; ++k) {
      const std::int64_t j = row(random);
      ASSERT_EQ(jumping.rowRun(j).first, runs[static_cast<std::size_t>(j)].first);
      ASSERT_EQ(jumping.rowRun(j).last, runs[static_cast<std::size_t>(j)].last);
    }
  }
}

TEST(GdiEllipsePath, WindowWalkGivesThePointsInsideTheWindow) {
  std::mt19937 random(11);
  for (int k = 0; k < 200; ++k) {
    const std::int64_t w = std::uniform_int_distribution<std::int64_t>(1, 900)(random);
    const std::int64_t h = std::uniform_int_distribution<std::int64_t>(1, 900)(random);
    const QuadrantPath path(w, h);
    std::uniform_int_distribution<std::int64_t> column(-5, path.lastColumn() + 5);
    std::uniform_int_distribution<std::int64_t> row(-5, path.lastRow() + 5);
    std::int64_t i0 = column(random), i1 = column(random), j0 = row(random), j1 = row(random);
    if (i0 > i1) std::swap(i0, i1);
    if (j0 > j1) std::swap(j0, j1);
    std::vector<PathPoint> expected;
    for (const PathPoint& p : plainWalk(w, h)) {
      if (p.i >= i0 && p.i <= i1 && p.j >= j0 && p.j <= j1) expected.push_back(p);
    }
    std::vector<PathPoint> actual;
    path.forEachInWindow(i0, i1, j0, j1, [&](std::int64_t i, std::int64_t j) {
      actual.push_back({i, j});
    });
    ASSERT_EQ(actual.size(), expected.size()) << w << "x" << h;
    for (std::size_t n = 0; n < expected.size(); ++n) {
      ASSERT_EQ(actual[n].i, expected[n].i);
      ASSERT_EQ(actual[n].j, expected[n].j);
    }
  }
}

TEST(GdiEllipsePath, FullCoordinateRangeStaysOnTheCurve) {
  // A box of 2^32 - 1 pixels: the path's middle row and last row are where
  // the ellipse touches its box.
  const QuadrantPath path(4294967295LL, 4294967295LL);
  EXPECT_EQ(path.rowRun(0).first, 0);
  EXPECT_EQ(path.rowRun(path.lastRow()).last, path.lastColumn());
  // A window in the middle of the curve holds a connected run of points.
  std::vector<PathPoint> seen;
  const std::int64_t j = path.lastRow() * 7 / 10;
  path.forEachInWindow(0, path.lastColumn(), j, j + 300, [&](std::int64_t i, std::int64_t jj) {
    seen.push_back({i, jj});
  });
  ASSERT_FALSE(seen.empty());
  for (std::size_t n = 1; n < seen.size(); ++n) {
    EXPECT_LE(seen[n].i - seen[n - 1].i, 1);
    EXPECT_LE(seen[n].j - seen[n - 1].j, 1);
    EXPECT_GE(seen[n].i - seen[n - 1].i + seen[n].j - seen[n - 1].j, 1);
  }
}

}  // namespace

namespace {

void expectCountsAlongThePath(std::int64_t w, std::int64_t h) {
  const QuadrantPath path(w, h);
  const std::vector<PathPoint> walked = plainWalk(w, h);
  ASSERT_EQ(path.count(), static_cast<std::int64_t>(walked.size())) << w << "x" << h;
  for (std::size_t k = 0; k < walked.size(); ++k) {
    ASSERT_EQ(path.indexOf(walked[k].i, walked[k].j), static_cast<std::int64_t>(k))
        << w << "x" << h << " point " << k;
    if (k % 7 != 0 && k + 1 != walked.size()) continue;
    const PathPoint at = path.pointAt(static_cast<std::int64_t>(k));
    ASSERT_EQ(at.i, walked[k].i) << w << "x" << h << " point " << k;
    ASSERT_EQ(at.j, walked[k].j) << w << "x" << h << " point " << k;
  }
}

TEST(GdiEllipsePath, IndexAlongThePathWithoutWalkingMatchesTheWalk) {
  for (std::int64_t w = 3; w <= 64; ++w) {
    for (std::int64_t h = 3; h <= 64; ++h) expectCountsAlongThePath(w, h);
  }
  std::mt19937 random(13);
  std::uniform_int_distribution<std::int64_t> size(3, 40000);
  std::uniform_int_distribution<std::int64_t> thin(3, 12);
  for (int k = 0; k < 25; ++k) {
    expectCountsAlongThePath(size(random), size(random));
    expectCountsAlongThePath(thin(random), size(random));
    expectCountsAlongThePath(size(random), thin(random));
  }
}

}  // namespace
