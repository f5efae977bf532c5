// The pixel path of one quadrant of an ellipse outline, as the rasteriser
// draws it: an error-term walk over a w x h box (Alois Zingl's integer
// ellipse), starting at the middle of the right edge and running down to the
// middle of the bottom edge.
//
// Quadrant-local coordinates: column i counts from the right edge towards
// the centre (0..lastColumn()), row j from the middle row towards the bottom
// edge (0..lastRow()). Both grow along the path; each step moves one pixel
// right, down or diagonally.
//
// Besides walking, the path answers which columns it covers in any row
// without walking there, so that a figure far larger than the surface costs
// only what is visible. Error terms use 128-bit arithmetic: boxes up to the
// full 32-bit coordinate range stay exact. README.md beside this file derives
// the scaled error terms, the row searches and the count along the path.
#pragma once

#include <cstdint>
#include <vector>

namespace win32::detail {

using Wide = __int128;

struct PathPoint {
  std::int64_t i;
  std::int64_t j;
};

class QuadrantPath {
 public:
  // width, height: the box size in pixels, both at least 1.
  QuadrantPath(std::int64_t width, std::int64_t height);

  std::int64_t lastColumn() const { return lastColumn_; }
  std::int64_t lastRow() const { return lastRow_; }

  // The first and last column the path covers in row j (0 <= j <= lastRow).
  // Queries for neighbouring rows are cheap: each search starts from where
  // the previous one ended.
  struct Run {
    std::int64_t first;
    std::int64_t last;
  };
  Run rowRun(std::int64_t j) const;

  // Calls visit(i, j) for the path points inside the window (inclusive
  // bounds, quadrant-local), in path order. Costs the points visited plus a
  // logarithmic search for the first one.
  template <class Visit>
  void forEachInWindow(std::int64_t i0, std::int64_t i1, std::int64_t j0, std::int64_t j1,
                       Visit&& visit) const;

  // The whole path in order (for small boxes).
  std::vector<PathPoint> allPoints() const;

  // The first path point where the condition holds, for a condition that
  // stays true once it holds along the path; false when it never does.
  template <class Condition>
  bool firstWhere(Condition&& holds, PathPoint& found) const;
  // The neighbours of a path point along the path (not past its ends).
  PathPoint previous(const PathPoint& p) const;
  PathPoint next(const PathPoint& p) const;

  // The number of path points, the place of a path point along the path (0
  // at (0, 0)) and the path point at a place, each without walking the path
  // (see "Counting along the path" in README.md).
  std::int64_t count() const { return count_; }
  std::int64_t indexOf(std::int64_t i, std::int64_t j) const;
  PathPoint pointAt(std::int64_t index) const;

 private:
  Wide error(std::int64_t i, std::int64_t j) const;
  Wide stepX(std::int64_t i) const;  // error change of the step into column i
  Wide stepY(std::int64_t j) const;  // error change of the step into row j
  bool movesRight(Wide err, std::int64_t i) const;
  bool movesDown(Wide err, std::int64_t j) const;
  std::int64_t rowThreshold(std::int64_t j) const;     // first column that moves down
  std::int64_t columnThreshold(std::int64_t j) const;  // first column reaching row j
  template <class Predicate>
  std::int64_t firstTrueNear(std::int64_t high, std::int64_t& hint, Predicate&& holds) const;
  std::int64_t rowLast(std::int64_t j) const;
  std::int64_t rowFirst(std::int64_t j) const;
  bool findEntry(std::int64_t i0, std::int64_t i1, std::int64_t j0, std::int64_t j1,
                 PathPoint& entry) const;
  std::int64_t diagonalSteps(std::int64_t i, std::int64_t j) const;
  void findFlatPart();

  std::int64_t a_;  // width - 1
  std::int64_t b_;  // height - 1
  Wide aa_;         // a^2
  Wide bb_;         // b^2
  Wide err0_;
  int parity_;  // the low bit the scaled error terms drop
  std::int64_t lastColumn_;
  std::int64_t lastRow_;
  std::int64_t reachRow_;  // first row whose run reaches lastColumn
  // Where the path turns flat: the first row holding a straight step right
  // (-1: none), and index - column from there on.
  std::int64_t flatRow_ = -1;
  std::int64_t flatOffset_ = 0;
  std::int64_t count_ = 0;
  // Where the last searches ended, and the last row answered.
  mutable std::int64_t rowHint_ = 0;
  mutable std::int64_t columnHint_ = 0;
  mutable std::int64_t cachedRow_ = -1;
  mutable std::int64_t cachedLast_ = 0;
};

template <class Condition>
bool QuadrantPath::firstWhere(Condition&& holds, PathPoint& found) const {
  std::int64_t low = 0;
  std::int64_t end = lastRow_ + 1;
  while (low < end) {  // the first row whose last point satisfies it
    const std::int64_t middle = low + (end - low) / 2;
    if (holds(rowLast(middle), middle)) {
      end = middle;
    } else {
      low = middle + 1;
    }
  }
  if (low > lastRow_) return false;
  const std::int64_t row = low;
  std::int64_t column = rowFirst(row);
  std::int64_t stop = rowLast(row);
  while (column < stop) {
    const std::int64_t middle = column + (stop - column) / 2;
    if (holds(middle, row)) {
      stop = middle;
    } else {
      column = middle + 1;
    }
  }
  found = {column, row};
  return true;
}

template <class Visit>
void QuadrantPath::forEachInWindow(std::int64_t i0, std::int64_t i1, std::int64_t j0,
                                   std::int64_t j1, Visit&& visit) const {
  if (i0 < 0) i0 = 0;
  if (j0 < 0) j0 = 0;
  if (i1 > lastColumn_) i1 = lastColumn_;
  if (j1 > lastRow_) j1 = lastRow_;
  PathPoint p{};
  if (i0 > i1 || j0 > j1 || !findEntry(i0, i1, j0, j1, p)) return;
  Wide err = error(p.i, p.j);
  while (p.i <= i1 && p.j <= j1) {
    visit(p.i, p.j);
    if (p.i == lastColumn_) {  // the tip: straight down to the last row
      ++p.j;
      continue;
    }
    const bool right = movesRight(err, p.i);
    const bool down = movesDown(err, p.j);
    if (right) err += stepX(++p.i);
    if (down) err += stepY(++p.j);
  }
}

}  // namespace win32::detail
