#include "platform/gdi/EllipsePath.h"

#include <algorithm>
#include <cmath>

namespace win32::detail {

namespace {

// Division by two rounding down and up; the shifts are arithmetic.
Wide floorHalf(Wide v) {
  return v >> 1;
}
Wide ceilHalf(Wide v) {
  return -((-v) >> 1);
}

// First value in [low, high] where the predicate holds, high + 1 if none; the
// predicate must be false then true over the range.
template <class Predicate>
std::int64_t firstTrue(std::int64_t low, std::int64_t high, Predicate&& holds) {
  std::int64_t end = high + 1;
  while (low < end) {
    const std::int64_t middle = low + (end - low) / 2;
    if (holds(middle)) {
      end = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

}  // namespace

// firstTrue over [0, high], searched outwards from the hint (doubling the
// step, then bisecting), which is then moved to the answer. Past the end
// counts as true, so the answer is always bracketed.
template <class Predicate>
std::int64_t QuadrantPath::firstTrueNear(std::int64_t high, std::int64_t& hint,
                                         Predicate&& holds) const {
  auto test = [&](std::int64_t i) { return i > high || holds(i); };
  const std::int64_t guess = std::clamp<std::int64_t>(hint, 0, high + 1);
  std::int64_t low = 0;
  std::int64_t top = guess;
  if (test(guess)) {
    for (std::int64_t step = 1; guess - step >= 0; step *= 2) {
      if (!test(guess - step)) {
        low = guess - step + 1;
        break;
      }
      top = guess - step;
    }
  } else {
    low = guess + 1;
    top = high + 1;
    for (std::int64_t step = 1; guess + step <= high; step *= 2) {
      if (test(guess + step)) {
        top = guess + step;
        break;
      }
      low = guess + step + 1;
    }
  }
  hint = firstTrue(low, top - 1, test);
  return hint;
}

// The walk keeps an error term e and steps right when 2e >= dx, down when
// 2e <= dy, updating e by the new dx or dy. All terms are multiples of four
// except one constant bit (parity_); they are kept divided by four so that a
// box of 2^32 pixels still fits 128 bits, and the tests are adjusted for the
// dropped bit.
QuadrantPath::QuadrantPath(std::int64_t width, std::int64_t height)
    : a_(width - 1),
      b_(height - 1),
      aa_(static_cast<Wide>(a_) * a_),
      bb_(static_cast<Wide>(b_) * b_),
      parity_(static_cast<int>((b_ & 1) & (a_ & 1))),
      lastColumn_((width - 1) - width / 2),
      lastRow_((height - 1) - height / 2) {
  const Wide oddRow = b_ & 1;
  // The start term a^2 of odd-height boxes is taken as a 32-bit signed
  // product, wrapping for boxes wider than 46342 pixels, as the reference
  // pictures were drawn (see "The start term" in README.md).
  const auto across = static_cast<std::uint64_t>(a_);
  const auto startTerm = static_cast<std::int32_t>(static_cast<std::uint32_t>(across * across));
  err0_ = bb_ * (1 - a_) + aa_ * (1 + oddRow) + oddRow * (Wide{startTerm} >> 2);
  reachRow_ = firstTrue(0, lastRow_, [this](std::int64_t j) {
    return std::max(rowThreshold(j), columnThreshold(j)) >= lastColumn_;
  });
  findFlatPart();
  count_ = indexOf(lastColumn_, lastRow_) + 1;
}

Wide QuadrantPath::error(std::int64_t i, std::int64_t j) const {
  // Products are formed so that no intermediate exceeds the final terms.
  const Wide across = static_cast<Wide>(i) * (i + 2 - a_);
  const Wide down = static_cast<Wide>(j) * (j + 2 + (b_ & 1));
  return err0_ + bb_ * across + aa_ * down;
}

Wide QuadrantPath::stepX(std::int64_t i) const {
  return bb_ * (1 - a_ + 2 * static_cast<Wide>(i));
}

Wide QuadrantPath::stepY(std::int64_t j) const {
  return aa_ * (1 + (b_ & 1) + 2 * static_cast<Wide>(j));
}

bool QuadrantPath::movesRight(Wide err, std::int64_t i) const {
  return err >= ceilHalf(stepX(i));
}

bool QuadrantPath::movesDown(Wide err, std::int64_t j) const {
  return err <= floorHalf(stepY(j) - parity_);
}

// The error falls along a row up to the last column but one, so the columns
// where the walk would step down form a tail of that range.
std::int64_t QuadrantPath::rowThreshold(std::int64_t j) const {
  return firstTrueNear(lastColumn_ - 1, rowHint_,
                       [this, j](std::int64_t i) { return movesDown(error(i, j), j); });
}

// Column i reaches row j when the walk in row j - 1 does not step right
// there; those columns form a tail as well.
std::int64_t QuadrantPath::columnThreshold(std::int64_t j) const {
  if (j == 0) return 0;
  return firstTrueNear(lastColumn_, columnHint_,
                       [this, j](std::int64_t i) { return !movesRight(error(i, j - 1), i); });
}

std::int64_t QuadrantPath::rowLast(std::int64_t j) const {
  if (j >= reachRow_) return lastColumn_;
  if (j == cachedRow_) return cachedLast_;
  cachedLast_ = std::min(std::max(rowThreshold(j), columnThreshold(j)), lastColumn_);
  cachedRow_ = j;
  return cachedLast_;
}

std::int64_t QuadrantPath::rowFirst(std::int64_t j) const {
  if (j == 0) return 0;
  const std::int64_t previous = rowLast(j - 1);
  if (previous == lastColumn_) return lastColumn_;
  return previous + (movesRight(error(previous, j - 1), previous) ? 1 : 0);
}

QuadrantPath::Run QuadrantPath::rowRun(std::int64_t j) const {
  return {rowFirst(j), rowLast(j)};
}

bool QuadrantPath::findEntry(std::int64_t i0, std::int64_t i1, std::int64_t j0, std::int64_t j1,
                             PathPoint& entry) const {
  std::int64_t row = j0;
  if (rowLast(j0) < i0) {
    row = firstTrue(j0 + 1, j1, [this, i0](std::int64_t j) { return rowLast(j) >= i0; });
    if (row > j1) return false;
  }
  const std::int64_t first = rowFirst(row);
  if (first > i1) return false;
  entry = {std::max(first, i0), row};
  return true;
}

PathPoint QuadrantPath::previous(const PathPoint& p) const {
  if (p.i > rowFirst(p.j)) return {p.i - 1, p.j};
  return {rowLast(p.j - 1), p.j - 1};
}

PathPoint QuadrantPath::next(const PathPoint& p) const {
  if (p.i < rowLast(p.j)) return {p.i + 1, p.j};
  return {rowFirst(p.j + 1), p.j + 1};
}

// The number of diagonal steps the walk takes one after the other from the
// path point (i, j). Along the diagonal (i + m, j + m) both step tests are
// convex quadratics in m: "moves down" (2e - stepY <= 0) holds on an interval
// from m = 0, "moves right" (2e - stepX >= 0) fails at most on one interval,
// found left of the quadratic's lowest point.
std::int64_t QuadrantPath::diagonalSteps(std::int64_t i, std::int64_t j) const {
  const std::int64_t most = std::min(lastColumn_ - i, lastRow_ - j);
  if (most <= 0) return 0;
  auto right = [&](std::int64_t m) {
    return 2 * error(i + m, j + m) - stepX(i + m);  // >= 0: moves right
  };
  auto downFails = [&](std::int64_t m) {
    return 2 * error(i + m, j + m) - stepY(j + m) + parity_ > 0;
  };
  std::int64_t stop = firstTrue(0, most - 1, downFails);
  const std::int64_t lowest =
      firstTrue(0, most - 1, [&](std::int64_t m) { return right(m + 1) >= right(m); });
  const std::int64_t rightFails =
      firstTrue(0, std::min(lowest, most - 1), [&](std::int64_t m) { return right(m) < 0; });
  if (rightFails <= std::min(lowest, most - 1)) stop = std::min(stop, rightFails);
  return std::min(stop, most);
}

// See "Counting along the path" in README.md: rows hold one point each up to
// the first straight step right, columns one point each after it (the tip
// aside). That step lies near the row where the curve's slope is 45 degrees;
// the search starts a little before it and hops over runs of diagonal steps.
void QuadrantPath::findFlatPart() {
  const long double halfA = static_cast<long double>(a_) / 2;
  const long double halfB = static_cast<long double>(b_) / 2;
  const long double tangent =
      halfA + halfB > 0 ? halfB * halfB / std::sqrt(halfA * halfA + halfB * halfB) : 0;
  std::int64_t row = std::clamp<std::int64_t>(static_cast<std::int64_t>(tangent) - 3, 0, reachRow_);
  while (row <= lastRow_) {
    const Run run = rowRun(row);
    if (run.last > run.first) {
      flatRow_ = row;
      flatOffset_ = row - run.first;
      return;
    }
    if (run.first >= lastColumn_) return;  // the tip: no straight step right
    const std::int64_t diagonal = diagonalSteps(run.first, row);
    row += diagonal == 0 ? 1 : diagonal;
  }
}

std::int64_t QuadrantPath::indexOf(std::int64_t i, std::int64_t j) const {
  if (flatRow_ < 0 || j < flatRow_) return j;
  if (i < lastColumn_) return flatOffset_ + i;
  return flatOffset_ + lastColumn_ + (j - reachRow_);
}

PathPoint QuadrantPath::pointAt(std::int64_t index) const {
  if (flatRow_ < 0 || index < flatRow_) return {rowFirst(index), index};
  const std::int64_t i = index - flatOffset_;
  if (i >= lastColumn_) return {lastColumn_, reachRow_ + (i - lastColumn_)};
  const std::int64_t row =
      firstTrue(flatRow_, lastRow_, [this, i](std::int64_t j) { return rowLast(j) >= i; });
  return {i, row};
}

std::vector<PathPoint> QuadrantPath::allPoints() const {
  std::vector<PathPoint> points;
  points.reserve(static_cast<std::size_t>(lastColumn_ + lastRow_ + 1));
  forEachInWindow(0, lastColumn_, 0, lastRow_, [&points](std::int64_t i, std::int64_t j) {
    points.push_back({i, j});
  });
  return points;
}

}  // namespace win32::detail
