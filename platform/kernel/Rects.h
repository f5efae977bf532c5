// Rectangle helpers shared by the window manager, the displays and GDI.
// Rectangles are right and bottom exclusive; one with right <= left or
// bottom <= top is empty.
#pragma once

#include <algorithm>

#include "platform/kernel/WinTypes.h"

namespace win32::detail {

inline bool IsEmptyRect(const RECT& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

// The common part, or {0, 0, 0, 0} when there is none.
inline RECT IntersectRects(const RECT& a, const RECT& b) {
  const RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
  return IsEmptyRect(r) ? RECT{0, 0, 0, 0} : r;
}

// The smallest rectangle holding both; an empty one adds nothing.
inline RECT UnionRects(const RECT& a, const RECT& b) {
  if (IsEmptyRect(a)) return b;
  if (IsEmptyRect(b)) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

inline RECT OffsetRectBy(const RECT& r, LONG dx, LONG dy) {
  return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

inline bool RectContains(const RECT& r, LONG x, LONG y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace win32::detail
