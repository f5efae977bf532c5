// The graphics device interface subset (gdi32) and its software rasteriser.
// (Declarations of the gdi32 functions follow the Win32 names and types.)
#pragma once

#include <memory>

#include "platform/display/Surface.h"
#include "platform/kernel/WinTypes.h"

namespace win32 {

namespace detail {
// A device context drawing on a surface; the window manager makes the window
// DCs with it. The DC keeps the surface alive.
HDC CreateSurfaceDC(std::shared_ptr<Surface> surface);
}  // namespace detail

}  // namespace win32
