// For tests: how many GDI objects are alive.
#pragma once

#include <cstddef>

namespace win32::detail {
// GDI objects alive now, stock objects included: what a leak shows in.
std::size_t GdiObjectCount();
}  // namespace win32::detail
