// What the window manager needs of GDI: device contexts on its windows' surfaces.
#pragma once

#include <memory>

#include "platform/display/Surface.h"
#include "platform/gdi/Gdi.h"

namespace win32::detail {
// A device context drawing on a surface; the window manager makes the window
// DCs with it. The DC keeps the surface alive.
HDC CreateSurfaceDC(std::shared_ptr<Surface> surface);
// Limits the DC's drawing to the rectangle (device coordinates, right and
// bottom exclusive) besides its surface; null removes the limit.
void SetDCClip(HDC dc, const RECT* clip);
}  // namespace win32::detail
