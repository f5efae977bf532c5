#include "platform/gdi/Raster.h"

#include <algorithm>
#include <cstdlib>

#include "platform/gdi/EllipsePath.h"
#include "platform/kernel/Rects.h"

namespace win32::detail {

namespace {

// The hatches as 8 x 8 cells anchored at the device origin, indexed by HS_*
// (horizontal, vertical, forward and backward diagonal, cross, diagonal
// cross): row y & 7 of the cell, bit 7 its leftmost pixel.
constexpr std::uint8_t kHatches[6][8] = {
    {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},
};

struct Point64 {
  std::int64_t x;
  std::int64_t y;
  bool operator==(const Point64&) const = default;
};

// Clip bounds inclusive, as 64-bit values.
struct Bounds {
  std::int64_t left;
  std::int64_t top;
  std::int64_t right;
  std::int64_t bottom;
};

Bounds boundsOf(const Canvas& canvas) {
  return {canvas.clip.left, canvas.clip.top, std::int64_t{canvas.clip.right} - 1,
          std::int64_t{canvas.clip.bottom} - 1};
}

bool inside(const Bounds& b, std::int64_t x, std::int64_t y) {
  return x >= b.left && x <= b.right && y >= b.top && y <= b.bottom;
}

void touch(Target& target, std::int64_t left, std::int64_t top, std::int64_t right,
           std::int64_t bottom) {
  target.touched =
      UnionRects(target.touched, {static_cast<LONG>(left), static_cast<LONG>(top),
                                  static_cast<LONG>(right + 1), static_cast<LONG>(bottom + 1)});
}

std::uint32_t& pixelAt(Target& target, std::int64_t x, std::int64_t y) {
  return target.canvas.surface->row(static_cast<std::int32_t>(y))[x];
}

// Pen style patterns: alternating on and off lengths, counted along the
// pixels of a figure.
struct DashPattern {
  std::array<int, 6> lengths;
  int count;
  int period;
};

const DashPattern* dashPatternOf(PenStyle style) {
  static const DashPattern dash{{18, 6}, 2, 24};
  static const DashPattern dot{{3, 3}, 2, 6};
  static const DashPattern dashDot{{9, 6, 3, 6}, 4, 24};
  static const DashPattern dashDotDot{{9, 3, 3, 3, 3, 3}, 6, 24};
  switch (style) {
    case PenStyle::Dash:
      return &dash;
    case PenStyle::Dot:
      return &dot;
    case PenStyle::DashDot:
      return &dashDot;
    case PenStyle::DashDotDot:
      return &dashDotDot;
    default:
      return nullptr;
  }
}

bool dashOn(const DashPattern& pattern, std::uint64_t index) {
  int position = static_cast<int>(index % static_cast<std::uint64_t>(pattern.period));
  for (int k = 0; k < pattern.count; ++k) {
    if (position < pattern.lengths[static_cast<std::size_t>(k)]) return k % 2 == 0;
    position -= pattern.lengths[static_cast<std::size_t>(k)];
  }
  return false;
}

// Draws a pen's pixels one after the other, keeping the style phase.
class Stroke {
 public:
  Stroke(Target& target, const ResolvedPen& pen)
      : target_(target),
        pen_(pen),
        bounds_(boundsOf(target.canvas)),
        pattern_(dashPatternOf(pen.style)) {}

  bool visible() const { return pen_.style != PenStyle::Null; }
  const Bounds& bounds() const { return bounds_; }
  std::uint64_t phase() const { return phase_; }
  void advance(std::uint64_t pixels) { phase_ += pixels; }

  void plot(std::int64_t x, std::int64_t y) { plotAt(x, y, phase_++); }

  void plotAt(std::int64_t x, std::int64_t y, std::uint64_t index) {
    if (!inside(bounds_, x, y)) return;
    std::uint32_t colour = pen_.colour;
    if (pattern_ != nullptr && !dashOn(*pattern_, index)) {
      if (!pen_.opaque) return;
      colour = pen_.background;
    }
    pixelAt(target_, x, y) = colour;
    touch(target_, x, y, x, y);
  }

 private:
  Target& target_;
  const ResolvedPen& pen_;
  Bounds bounds_;
  const DashPattern* pattern_;
  std::uint64_t phase_ = 0;
};

bool hatchOn(int hatch, std::int64_t x, std::int64_t y) {
  if (hatch < 0 || hatch > 5) return false;
  return ((kHatches[hatch][y & 7] >> (7 - (x & 7))) & 1) != 0;
}

// The brush colour of one pixel; false where the brush leaves it alone.
bool brushColourAt(const ResolvedBrush& brush, std::int64_t x, std::int64_t y,
                   std::uint32_t& colour) {
  switch (brush.kind) {
    case BrushKind::Solid:
      colour = brush.colour;
      return true;
    case BrushKind::Hatched:
      if (hatchOn(brush.hatch, x, y)) {
        colour = brush.colour;
        return true;
      }
      colour = brush.background;
      return brush.opaque;
    case BrushKind::Pattern: {
      const std::int64_t px = x % brush.patternWidth;
      const std::int64_t py = y % brush.patternHeight;
      const std::size_t at = static_cast<std::size_t>(py * brush.patternWidth + px);
      if (!brush.colourBits.empty()) {
        colour = brush.colourBits[at];
      } else {
        colour = brush.monoBits[at] != 0 ? brush.background : brush.foreground;
      }
      return true;
    }
    case BrushKind::Null:
      break;
  }
  return false;
}

// Fills the pixels left..right (inclusive) of row y, clipped.
void fillSpan(Target& target, const ResolvedBrush& brush, std::int64_t y, std::int64_t left,
              std::int64_t right) {
  const Bounds b = boundsOf(target.canvas);
  if (brush.kind == BrushKind::Null || y < b.top || y > b.bottom) return;
  left = std::max(left, b.left);
  right = std::min(right, b.right);
  if (left > right) return;
  std::uint32_t* row = target.canvas.surface->row(static_cast<std::int32_t>(y));
  if (brush.kind == BrushKind::Solid) {
    std::fill(row + left, row + right + 1, brush.colour);
  } else {
    for (std::int64_t x = left; x <= right; ++x) {
      std::uint32_t colour = 0;
      if (brushColourAt(brush, x, y, colour)) row[x] = colour;
    }
  }
  touch(target, left, y, right, y);
}

// The k range [low, high] of a line's pixels whose offset along the minor
// axis, floor((2*k*minor + c) / (2*major)), lies within [offLow, offHigh].
// The derivation (why this c, why these bounds) is in README.md, "Lines:
// the exact clip".
bool minorRange(std::int64_t major, std::int64_t minor, std::int64_t c, std::int64_t offLow,
                std::int64_t offHigh, std::int64_t& low, std::int64_t& high) {
  if (offHigh < 0) return false;
  const Wide twiceMajor = 2 * static_cast<Wide>(major);
  if (minor == 0) {
    if (offLow > 0) return false;
    low = 0;
    high = major - 1;
    return true;
  }
  const Wide twiceMinor = 2 * static_cast<Wide>(minor);
  low = 0;
  if (offLow > 0) {
    const Wide need = twiceMajor * offLow - c;
    low = static_cast<std::int64_t>((need + twiceMinor - 1) / twiceMinor);
  }
  const Wide limit = twiceMajor * (static_cast<Wide>(offHigh) + 1) - c - 1;
  high = static_cast<std::int64_t>(std::min<Wide>(limit / twiceMinor, major - 1));
  return low <= high;
}

// Runs a line through the stroke; ties between two pixels go to the smaller
// coordinate whichever way the line runs, so a line and its reverse cover
// the same pixels.
void strokeLine(Stroke& stroke, std::int64_t x1, std::int64_t y1, std::int64_t x2,
                std::int64_t y2) {
  const std::int64_t dx = x2 - x1;
  const std::int64_t dy = y2 - y1;
  if (dx == 0 && dy == 0) return;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const std::int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
  const std::int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
  const std::int64_t majorStep = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const std::int64_t minorStep = (xMajor ? dy : dx) < 0 ? -1 : 1;
  const std::int64_t majorStart = xMajor ? x1 : y1;
  const std::int64_t minorStart = xMajor ? y1 : x1;
  const std::int64_t c = major - 1 + (minorStep < 0 ? 1 : 0);
  const Bounds& b = stroke.bounds();
  const std::int64_t majorLow = xMajor ? b.left : b.top;
  const std::int64_t majorHigh = xMajor ? b.right : b.bottom;
  const std::int64_t minorLow = xMajor ? b.top : b.left;
  const std::int64_t minorHigh = xMajor ? b.bottom : b.right;
  const std::uint64_t phase = stroke.phase();
  stroke.advance(static_cast<std::uint64_t>(major));
  if (!stroke.visible()) return;

  std::int64_t low = majorStep > 0 ? majorLow - majorStart : majorStart - majorHigh;
  std::int64_t high = majorStep > 0 ? majorHigh - majorStart : majorStart - majorLow;
  low = std::max<std::int64_t>(low, 0);
  high = std::min(high, major - 1);
  std::int64_t minorFirst = 0;
  std::int64_t minorLast = 0;
  const std::int64_t offLow = minorStep > 0 ? minorLow - minorStart : minorStart - minorHigh;
  const std::int64_t offHigh = minorStep > 0 ? minorHigh - minorStart : minorStart - minorLow;
  if (!minorRange(major, minor, c, offLow, offHigh, minorFirst, minorLast)) return;
  low = std::max(low, minorFirst);
  high = std::min(high, minorLast);
  if (low > high) return;

  const Wide twiceMajor = 2 * static_cast<Wide>(major);
  const Wide numerator = 2 * static_cast<Wide>(low) * minor + c;
  std::int64_t offset = static_cast<std::int64_t>(numerator / twiceMajor);
  std::int64_t remainder = static_cast<std::int64_t>(numerator % twiceMajor);
  for (std::int64_t k = low; k <= high; ++k) {
    const std::int64_t along = majorStart + majorStep * k;
    const std::int64_t across = minorStart + minorStep * offset;
    stroke.plotAt(xMajor ? along : across, xMajor ? across : along,
                  phase + static_cast<std::uint64_t>(k));
    remainder += 2 * minor;
    if (remainder >= 2 * major) {
      remainder -= 2 * major;
      ++offset;
    }
  }
}

// A box in normalised form: left <= right, top <= bottom, right and bottom
// exclusive, in 64 bits.
struct Box {
  std::int64_t left;
  std::int64_t top;
  std::int64_t right;
  std::int64_t bottom;
  std::int64_t width() const { return right - left; }
  std::int64_t height() const { return bottom - top; }
};

Box normalise(const RECT& r) {
  return {std::min<std::int64_t>(r.left, r.right), std::min<std::int64_t>(r.top, r.bottom),
          std::max<std::int64_t>(r.left, r.right), std::max<std::int64_t>(r.top, r.bottom)};
}

// A FillRect or InvertRect rectangle as inclusive bounds. One given right to
// left covers the columns right + 1 to left (the pixels a box of the same
// width drawn leftwards from `left` would cover); bottom to top likewise.
Box spanOf(const RECT& r) {
  Box box{r.left, r.top, std::int64_t{r.right} - 1, std::int64_t{r.bottom} - 1};
  if (r.right < r.left) box.left = std::int64_t{r.right} + 1, box.right = r.left;
  if (r.bottom < r.top) box.top = std::int64_t{r.bottom} + 1, box.bottom = r.top;
  return box;
}

void fillRows(Target& target, const ResolvedBrush& brush, std::int64_t left, std::int64_t top,
              std::int64_t right, std::int64_t bottom) {
  const Bounds b = boundsOf(target.canvas);
  for (std::int64_t y = std::max(top, b.top); y <= std::min(bottom, b.bottom); ++y) {
    fillSpan(target, brush, y, left, right);
  }
}

void drawBox(Target& target, const ResolvedPen& pen, const ResolvedBrush& brush, const Box& box) {
  if (box.width() == 0 || box.height() == 0) return;
  const std::int64_t inset = pen.style == PenStyle::Null ? 0 : 1;
  fillRows(target, brush, box.left + inset, box.top + inset, box.right - 2, box.bottom - 2);
  Stroke stroke(target, pen);
  if (!stroke.visible()) return;
  const std::int64_t r = box.right - 1;
  const std::int64_t b = box.bottom - 1;
  if (r == box.left && b == box.top) return;  // a 1 x 1 box draws nothing
  // Counter-clockwise from the top-right corner.
  strokeLine(stroke, r, box.top, box.left, box.top);
  strokeLine(stroke, box.left, box.top, box.left, b);
  strokeLine(stroke, box.left, b, r, b);
  strokeLine(stroke, r, b, r, box.top);
}

// The outline of an ellipse as one loop: the four quadrants counter-clockwise
// from the middle of the right edge, each the quadrant path mirrored into
// place: top-right (path order), top-left (reversed), bottom-left (path
// order), bottom-right (reversed). Places in the loop are counted 0 to
// 4 * count - 1 and go on past the end for arcs that wrap (k + 4 * count is
// k once more).
//
// Where two quadrants meet on an odd-sized box, the last pixel of one is the
// first of the next; the drawn sequence counts such a repeated pixel once.
// merged(k) is the place of loop place k in that sequence, the count the pen
// style runs on: every ellipse and arc, whatever its size, is drawn from
// these two numbers alone.
class EllipseShape {
 public:
  explicit EllipseShape(const Box& box)
      : box_(box),
        path_(box.width(), box.height()),
        count_(path_.count()),
        oddWidth_(box.width() & 1),
        oddHeight_(box.height() & 1),
        loopSize_(4 * count_),
        mergedSize_(4 * count_ - 2 * oddWidth_ - 2 * oddHeight_) {}

  const QuadrantPath& path() const { return path_; }
  std::int64_t count() const { return count_; }
  std::int64_t loopSize() const { return loopSize_; }
  std::int64_t mergedSize() const { return mergedSize_; }

  Point64 place(int quadrant, std::int64_t i, std::int64_t j) const {
    const std::int64_t right = box_.left + (box_.width() - 1) - i;
    const std::int64_t left = box_.left + i;
    const std::int64_t top = box_.top + path_.lastRow() - j;
    const std::int64_t bottom = box_.top + box_.height() / 2 + j;
    switch (quadrant) {
      case 0:
        return {right, top};
      case 1:
        return {left, top};
      case 2:
        return {left, bottom};
      default:
        return {right, bottom};
    }
  }

  // The quadrant-local window of the clip bounds for one quadrant.
  void window(int quadrant, const Bounds& b, std::int64_t& i0, std::int64_t& i1, std::int64_t& j0,
              std::int64_t& j1) const {
    const std::int64_t rightEdge = box_.left + box_.width() - 1;
    const bool isRight = quadrant == 0 || quadrant == 3;
    const bool isTop = quadrant == 0 || quadrant == 1;
    i0 = isRight ? rightEdge - b.right : b.left - box_.left;
    i1 = isRight ? rightEdge - b.left : b.right - box_.left;
    const std::int64_t middleTop = box_.top + path_.lastRow();
    const std::int64_t middleBottom = box_.top + box_.height() / 2;
    j0 = isTop ? middleTop - b.bottom : b.top - middleBottom;
    j1 = isTop ? middleTop - b.top : b.bottom - middleBottom;
  }

  // Quadrant row of a device row, or -1 outside the box.
  std::int64_t rowOf(std::int64_t y) const {
    const std::int64_t middleBottom = box_.top + box_.height() / 2;
    const std::int64_t j = y >= middleBottom ? y - middleBottom : box_.top + path_.lastRow() - y;
    return j >= 0 && j <= path_.lastRow() ? j : -1;
  }

  Point64 centre() const { return {box_.left + box_.width() / 2, box_.top + box_.height() / 2}; }

  // The path index of the loop place's point, local place l in its quadrant.
  std::int64_t pathIndex(int quadrant, std::int64_t local) const {
    return quadrant % 2 == 0 ? local : count_ - 1 - local;
  }
  std::int64_t loopPlace(int quadrant, const PathPoint& p) const {
    return quadrant * count_ + pathIndex(quadrant, path_.indexOf(p.i, p.j));
  }

  std::int64_t merged(std::int64_t k) const {
    const std::int64_t turns = k / loopSize_;
    const std::int64_t inLoop = k % loopSize_;
    const std::int64_t quadrant = inLoop / count_;
    const std::int64_t joined = (quadrant >= 1 ? oddWidth_ : 0) + (quadrant >= 2 ? oddHeight_ : 0) +
                                (quadrant >= 3 ? oddWidth_ : 0);
    return turns * mergedSize_ + inLoop - joined;
  }

  // The loop place where the radial towards (x, y) (from the centre, y
  // upwards) meets the outline: the first path point past the radial, placed
  // in the quadrant the radial points into; radials along an axis belong to
  // the quadrant they open. A radial in the bottom-right quadrant whose
  // point is the loop's first one meets the loop at its end (4 * count).
  std::int64_t radialPlace(Wide x, Wide y) const {
    const Wide columns = path_.lastColumn();
    const PathPoint last{path_.lastColumn(), path_.lastRow()};
    auto across = [columns](std::int64_t i) { return columns - i; };
    PathPoint m{};
    if (y >= 0 && x >= 0) {
      const bool found = path_.firstWhere(
          [&](std::int64_t i, std::int64_t j) { return across(i) * y <= j * x; }, m);
      return found ? loopPlace(0, m) : loopPlace(1, last);
    }
    if (y >= 0) {
      const bool found = path_.firstWhere(
          [&](std::int64_t i, std::int64_t j) { return across(i) * y < j * -x; }, m);
      if (!found) return loopPlace(1, last);
      if (m.i == 0 && m.j == 0) return loopPlace(2, m);
      return loopPlace(1, path_.previous(m));
    }
    if (x >= 0) {
      const bool found = path_.firstWhere(
          [&](std::int64_t i, std::int64_t j) { return across(i) * -y <= j * x; }, m);
      if (!found) return loopPlace(3, last);
      if (m.i == 0 && m.j == 0) return loopSize_;
      return loopPlace(3, path_.previous(m));
    }
    const bool found = path_.firstWhere(
        [&](std::int64_t i, std::int64_t j) { return across(i) * -y < j * -x; }, m);
    return found ? loopPlace(2, m) : loopPlace(3, last);
  }

 private:
  Box box_;
  QuadrantPath path_;
  std::int64_t count_;
  std::int64_t oddWidth_;
  std::int64_t oddHeight_;
  std::int64_t loopSize_;
  std::int64_t mergedSize_;
};

// Strokes loop places first to last - 1 in order, the style counted from
// `first`. An arc leaves out its last drawn pixel; a whole ellipse leaves out
// only the repeat of its first pixel at the end of the loop. Each stretch of
// one quadrant is walked only where it meets the clip bounds, so a huge
// figure costs what is visible plus a few searches; stretches go in loop
// order, so a pixel that two of them share ends as the later one draws it.
void strokeLoop(Stroke& stroke, const EllipseShape& shape, std::int64_t first, std::int64_t last,
                bool arc) {
  const QuadrantPath& path = shape.path();
  const std::int64_t count = shape.count();
  const std::int64_t base = shape.merged(first);
  const std::int64_t leftOut = arc ? shape.merged(last - 1) : base + shape.mergedSize();
  for (std::int64_t k = first; k < last;) {
    const int quadrant = static_cast<int>((k / count) % 4);
    const std::int64_t from = k % count;
    const std::int64_t to = std::min(count - 1, from + (last - 1 - k));
    const std::int64_t quadrantStart = k - from;
    const PathPoint a =
        path.pointAt(std::min(shape.pathIndex(quadrant, from), shape.pathIndex(quadrant, to)));
    const PathPoint b =
        path.pointAt(std::max(shape.pathIndex(quadrant, from), shape.pathIndex(quadrant, to)));
    std::int64_t i0 = 0, i1 = 0, j0 = 0, j1 = 0;
    shape.window(quadrant, stroke.bounds(), i0, i1, j0, j1);
    path.forEachInWindow(std::max(i0, a.i), std::min(i1, b.i), std::max(j0, a.j), std::min(j1, b.j),
                         [&](std::int64_t i, std::int64_t j) {
                           const std::int64_t local = shape.pathIndex(quadrant, path.indexOf(i, j));
                           const std::int64_t at = shape.merged(quadrantStart + local);
                           if (arc ? at == leftOut : at >= leftOut) return;
                           const Point64 p = shape.place(quadrant, i, j);
                           stroke.plotAt(p.x, p.y, static_cast<std::uint64_t>(at - base));
                         });
    k += to - from + 1;
  }
}

// The brush covers every pixel of the ellipse, its outline included; the pen
// draws over it afterwards, so a styled pen's gaps in TRANSPARENT mode show
// the brush.
void fillEllipse(Target& target, const EllipseShape& shape, const Box& box,
                 const ResolvedBrush& brush) {
  if (brush.kind == BrushKind::Null) return;
  const Bounds b = boundsOf(target.canvas);
  const std::int64_t lastX = box.width() - 1;
  for (std::int64_t y = std::max(box.top, b.top); y <= std::min(box.bottom - 1, b.bottom); ++y) {
    const std::int64_t j = shape.rowOf(y);
    if (j < 0) continue;
    const std::int64_t edge = shape.path().rowRun(j).first;
    fillSpan(target, brush, y, box.left + edge, box.left + lastX - edge);
  }
}

}  // namespace

void SetPixelAt(Target& target, std::int64_t x, std::int64_t y, std::uint32_t colour) {
  if (!inside(boundsOf(target.canvas), x, y)) return;
  pixelAt(target, x, y) = colour;
  touch(target, x, y, x, y);
}

void FillBox(Target& target, const RECT& rect, const ResolvedBrush& brush) {
  const Box box = spanOf(rect);
  fillRows(target, brush, box.left, box.top, box.right, box.bottom);
}

void InvertBox(Target& target, const RECT& rect) {
  const Bounds b = boundsOf(target.canvas);
  const Box box = spanOf(rect);
  const std::int64_t left = std::max<std::int64_t>(box.left, b.left);
  const std::int64_t right = std::min<std::int64_t>(box.right, b.right);
  const std::int64_t top = std::max<std::int64_t>(box.top, b.top);
  const std::int64_t bottom = std::min<std::int64_t>(box.bottom, b.bottom);
  if (left > right || top > bottom) return;
  for (std::int64_t y = top; y <= bottom; ++y) {
    std::uint32_t* row = target.canvas.surface->row(static_cast<std::int32_t>(y));
    for (std::int64_t x = left; x <= right; ++x) row[x] ^= 0x00FFFFFFu;
  }
  touch(target, left, top, right, bottom);
}

void DrawLine(Target& target, const ResolvedPen& pen, std::int64_t x1, std::int64_t y1,
              std::int64_t x2, std::int64_t y2) {
  Stroke stroke(target, pen);
  strokeLine(stroke, x1, y1, x2, y2);
}

void DrawRectangle(Target& target, const ResolvedPen& pen, const ResolvedBrush& brush,
                   const RECT& box) {
  drawBox(target, pen, brush, normalise(box));
}

void DrawEllipse(Target& target, const ResolvedPen& pen, const ResolvedBrush& brush,
                 const RECT& rect) {
  const Box box = normalise(rect);
  if (box.width() == 0 || box.height() == 0) return;
  if (box.width() <= 2 || box.height() <= 2) {
    drawBox(target, pen, brush, box);
    return;
  }
  const EllipseShape shape(box);
  fillEllipse(target, shape, box, brush);
  Stroke stroke(target, pen);
  if (!stroke.visible()) return;
  strokeLoop(stroke, shape, 0, shape.loopSize(), false);
}

void DrawArc(Target& target, const ResolvedPen& pen, const RECT& rect, POINT start, POINT end) {
  const Box box = normalise(rect);
  if (box.width() == 0 || box.height() == 0) return;
  Stroke stroke(target, pen);
  if (!stroke.visible()) return;
  const EllipseShape shape(box);
  const Point64 centre = shape.centre();
  const Wide fromX = start.x - centre.x, fromY = centre.y - start.y;
  const Wide toX = end.x - centre.x, toY = centre.y - end.y;
  const std::int64_t first = shape.radialPlace(fromX, fromY);
  std::int64_t last = shape.radialPlace(toX, toY);
  // An end before the start wraps round once; radials that meet the outline
  // at one place give the whole loop. A start at the loop's end and an end
  // at its start (place 0) leave nothing between them.
  if (last <= first) last += shape.loopSize();
  strokeLoop(stroke, shape, first, last, true);
}

}  // namespace win32::detail
