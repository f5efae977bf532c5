#include "graph/GraphDrawing.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "graph/Graph.h"
#include "graph/GraphCursor.h"
#include "graph/GraphServer.h"
#include "graph/GraphTesting.h"
#include "runtime/WinRTL.h"

namespace Graph {

namespace detail {
DrawingHook drawingHook = nullptr;
}  // namespace detail

namespace drawing {
namespace {

constexpr std::size_t kPaletteCapacity = 1024;

// The drawing tools, used under the bitmap lock by the thread that issues a
// command: the command record, the pen and brush templates and the objects
// made from them, the palette's colours, the masks and the line style.
struct Tools {
  Command command{};
  win32::LOGPEN penTemplate{};
  win32::LOGBRUSH brushTemplate{};
  win32::HPEN createdPen = nullptr;
  win32::HBRUSH createdBrush = nullptr;
  win32::HGDIOBJ previousPen = nullptr;
  win32::HGDIOBJ previousBrush = nullptr;
  std::array<std::uint32_t, kPaletteCapacity> paletteColours{};
  std::uint32_t paletteCount = 0;
  std::uint32_t bkColour = 0;
  std::uint32_t outlinePenStyle = win32::PS_SOLID;
  bool fillMaskIsStd = true;
  std::uint32_t stdFillMask = 8;
  std::uint32_t stdBrushStyle = win32::BS_SOLID;
  std::array<std::uint8_t, 8> customFillMask{};
  win32::HBITMAP patternBitmap = nullptr;
} tools;

// Line style numbers to pen styles: 1 is dotted and 2 dashed, the reverse of
// the pen style constants.
constexpr std::array<std::uint32_t, 6> penStyles = {
    win32::PS_SOLID,   win32::PS_DOT,        win32::PS_DASH,
    win32::PS_DASHDOT, win32::PS_DASHDOTDOT, win32::PS_NULL,
};

// 0x00RRGGBB.
constexpr std::array<std::uint32_t, 16> stdPalette = {
    0x00000000, 0x000000B0, 0x0000B000, 0x00008080, 0x00B00000, 0x00800080, 0x00B06000, 0x00C0C0C0,
    0x00808080, 0x000000FF, 0x0000FF00, 0x0000FFFF, 0x00FF0000, 0x00FF00FF, 0x00FFFF00, 0x00FFFFFF,
};

std::int32_t gdiInt(std::uint32_t value) {
  return static_cast<std::int32_t>(value);
}

void selectTools(win32::HDC dc, std::uint32_t colour, bool fill) {
  const win32::COLORREF c = WinRTL::PALETTEINDEX(colour);
  if (fill) {
    tools.penTemplate.lopnStyle = win32::PS_SOLID;
    if (tools.fillMaskIsStd) {
      tools.brushTemplate.lbStyle = tools.stdBrushStyle;
    } else {
      // The set bits of the pattern take the text colour.
      win32::SetTextColor(dc, c);
      tools.brushTemplate.lbStyle = win32::BS_PATTERN;
    }
  } else {
    tools.penTemplate.lopnStyle = tools.outlinePenStyle;
    tools.brushTemplate.lbStyle = win32::BS_NULL;
  }
  tools.penTemplate.lopnColor = c;
  tools.createdPen = win32::CreatePenIndirect(&tools.penTemplate);
  tools.previousPen = win32::SelectObject(dc, tools.createdPen);
  tools.brushTemplate.lbColor = c;
  tools.createdBrush = win32::CreateBrushIndirect(&tools.brushTemplate);
  tools.previousBrush = win32::SelectObject(dc, tools.createdBrush);
}

void releaseTools(win32::HDC dc) {
  win32::SelectObject(dc, tools.previousBrush);
  win32::DeleteObject(tools.createdBrush);
  win32::SelectObject(dc, tools.previousPen);
  win32::DeleteObject(tools.createdPen);
  tools.createdPen = nullptr;
  tools.createdBrush = nullptr;
}

// The pen and brush of one drawing, selected for its scope: however the
// drawing ends, the DC gets its old tools back and the new ones are deleted.
class SelectedTools {
 public:
  SelectedTools(win32::HDC dc, std::uint32_t colour, bool fill) : dc_(dc) {
    selectTools(dc, colour, fill);
  }
  ~SelectedTools() { releaseTools(dc_); }
  SelectedTools(const SelectedTools&) = delete;
  SelectedTools& operator=(const SelectedTools&) = delete;

 private:
  win32::HDC dc_;
};

// Between selecting the tools and drawing with them, where a fault would
// leave the most behind.
void drawingStarts() {
  if (detail::drawingHook != nullptr) detail::drawingHook();
}

bool isStdMask(std::uint32_t mask) {
  for (std::uint32_t known : {PATSYM_HORIZ, PATSYM_VERT, PATSYM_DIAG2, PATSYM_DIAG1, PATSYM_DENSE2,
                              PATSYM_DENSE1, PATSYM_SOLID}) {
    if (mask == known) return true;
  }
  return false;
}

void selectStdMask(std::uint32_t mask) {
  if (mask == PATSYM_SOLID) {
    tools.stdBrushStyle = win32::BS_SOLID;
  } else {
    tools.brushTemplate.lbHatch = mask;
    tools.stdBrushStyle = win32::BS_HATCHED;
  }
}

// A LOGPALETTE with its entries laid out after it, as CreatePalette reads it.
std::vector<std::uint8_t> logicalPalette() {
  std::vector<win32::PALETTEENTRY> entries;
  for (std::uint32_t i = 0; i < tools.paletteCount; ++i) {
    const std::uint32_t colour = tools.paletteColours[i];
    entries.push_back(win32::PALETTEENTRY{static_cast<win32::BYTE>(colour >> 16),
                                          static_cast<win32::BYTE>(colour >> 8),
                                          static_cast<win32::BYTE>(colour), 0});
  }
  constexpr std::size_t kEntriesOffset = offsetof(win32::LOGPALETTE, palPalEntry);
  std::vector<std::uint8_t> storage(
      std::max(sizeof(win32::LOGPALETTE), kEntriesOffset + entries.size() * sizeof(entries[0])));
  const win32::LOGPALETTE header{0x300, static_cast<win32::WORD>(entries.size()), {}};
  std::memcpy(storage.data(), &header, kEntriesOffset);
  if (!entries.empty()) {
    std::memcpy(storage.data() + kEntriesOffset, entries.data(),
                entries.size() * sizeof(entries[0]));
  }
  return storage;
}

// Each DC gets a palette object of its own, selected as a background palette;
// the one it replaces is deleted. A palette that cannot be made (one of no
// entries cannot) changes nothing: the DC keeps the one it has.
void realisePalette(win32::HDC dc, win32::HPALETTE& selected) {
  if (dc == nullptr) return;
  const std::vector<std::uint8_t> palette = logicalPalette();
  win32::HPALETTE created =
      win32::CreatePalette(reinterpret_cast<const win32::LOGPALETTE*>(palette.data()));
  if (created == nullptr) return;
  win32::SelectPalette(dc, created, win32::TRUE);
  if (selected != nullptr) win32::DeleteObject(selected);
  selected = created;
  win32::RealizePalette(dc);
}

void run(win32::HDC, const SetOutlineStyle& command) {
  tools.outlinePenStyle = command.penStyle;
}

void run(win32::HDC, const SelectStdMask& command) {
  selectStdMask(command.mask);
}

void run(win32::HDC, const RealisePalette&) {
  server::WindowObjects& objects = server::Objects();
  realisePalette(objects.windowDC, objects.windowPalette);
  realisePalette(objects.memoryDC, objects.memoryPalette);
}

void run(win32::HDC dc, const SetBkColour& command) {
  win32::SetBkColor(dc, WinRTL::PALETTEINDEX(command.colour));
}

void run(win32::HDC dc, const SetBkMode& command) {
  win32::SetBkMode(dc, command.mode);
}

void run(win32::HDC dc, const Pixel& command) {
  win32::SetPixelV(dc, gdiInt(command.x), gdiInt(command.y), WinRTL::PALETTEINDEX(command.colour));
}

void run(win32::HDC dc, const Line& line) {
  if (line.x1 != line.x2 || line.y1 != line.y2) {
    const SelectedTools selected(dc, line.colour, false);
    drawingStarts();
    win32::MoveToEx(dc, gdiInt(line.x1), gdiInt(line.y1), nullptr);
    win32::LineTo(dc, gdiInt(line.x2), gdiInt(line.y2));
  }
  // LineTo leaves out the end point; the pixel puts it in.
  win32::SetPixelV(dc, gdiInt(line.x2), gdiInt(line.y2), WinRTL::PALETTEINDEX(line.colour));
}

// The GDI's rectangle of the corners, right and bottom as given.
win32::RECT gdiRect(const Corners& corners) {
  return win32::RECT{gdiInt(corners.left), gdiInt(corners.top), gdiInt(corners.right),
                     gdiInt(corners.bottom)};
}

void run(win32::HDC dc, const Box& box) {
  const SelectedTools selected(dc, box.colour, box.fill);
  drawingStarts();
  const Corners& c = box.corners;
  win32::Rectangle(dc, gdiInt(c.left), gdiInt(c.top), gdiInt(c.right + 1), gdiInt(c.bottom + 1));
}

// Whether an outline lies wholly outside the drawing area, round all of it:
// every corner of the area is inside the ellipse shrunk by a margin for the
// pen and the rounding, and the ellipse's inside is convex. Such an outline
// leaves no pixel in the area, and is not drawn: some GDIs (Wine's) fault on
// an outline millions of pixels wide, long after it has left the window.
bool outlineGoesRoundTheArea(const Corners& bounds) {
  constexpr double kMargin = 2.0;
  const double left = gdiInt(bounds.left);
  const double top = gdiInt(bounds.top);
  const double a = (gdiInt(bounds.right) - left) / 2 - kMargin;
  const double b = (gdiInt(bounds.bottom) - top) / 2 - kMargin;
  if (a <= 0 || b <= 0) return false;
  const double centreX = left + a + kMargin;
  const double centreY = top + b + kMargin;
  for (const double x : {0.0, static_cast<double>(Width)}) {
    for (const double y : {0.0, static_cast<double>(Depth)}) {
      const double dx = (x - centreX) / a;
      const double dy = (y - centreY) / b;
      if (dx * dx + dy * dy >= 1.0) return false;
    }
  }
  return true;
}

void run(win32::HDC dc, const Ellipse& ellipse) {
  if (!ellipse.fill && outlineGoesRoundTheArea(ellipse.bounds)) return;
  const SelectedTools selected(dc, ellipse.colour, ellipse.fill);
  drawingStarts();
  const win32::RECT r = gdiRect(ellipse.bounds);
  if (ellipse.fill) {
    win32::Ellipse(dc, r.left, r.top, r.right, r.bottom);
  } else {
    win32::Arc(dc, r.left, r.top, r.right, r.bottom, 0, 0, 0, 0);
  }
}

void run(win32::HDC dc, const Invert& invert) {
  const win32::RECT area = gdiRect(invert.area);
  win32::InvertRect(dc, &area);
}

void runCommand(win32::HDC dc) {
  std::visit([dc](const auto& command) { run(dc, command); }, tools.command);
}

void drawBox(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2,
             std::uint32_t colour, bool fill) {
  if (x1 == x2 && y1 == y2) {
    Issue(Pixel{x1, y1, colour});
  } else {
    Issue(Box{
        {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)}, colour, fill});
  }
}

// Fills with the background colour through a solid mask, then puts the
// caller's masks back: the standard one always, so that GetStdFillMask
// answers as before, and a custom one over it (with its pattern bitmap made
// anew).
class SolidMaskForFill {
 public:
  SolidMaskForFill() : wasStd_(tools.fillMaskIsStd), stdMask_(GetStdFillMask()) {
    SetStdFillMask(PATSYM_SOLID);
  }
  ~SolidMaskForFill() {
    SetStdFillMask(stdMask_);
    if (!wasStd_) SetFillMask(tools.customFillMask);
  }
  SolidMaskForFill(const SolidMaskForFill&) = delete;
  SolidMaskForFill& operator=(const SolidMaskForFill&) = delete;

 private:
  bool wasStd_;
  std::uint32_t stdMask_;
};

void fillBox(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2) {
  const SolidMaskForFill solid;
  drawBox(x1, y1, x2, y2, tools.bkColour, true);
}

}  // namespace

void Issue(const Command& command) {
  const server::DrawingLock lock;
  tools.command = command;
  const server::WindowObjects& objects = server::Objects();
  if (objects.memoryDC != nullptr) {
    runCommand(objects.memoryDC);
    runCommand(objects.windowDC);
    win32::detail::ShowDrawing();
  }
}

void IssueState(const Command& command) {
  const server::DrawingLock lock;
  tools.command = command;
  runCommand(server::Objects().memoryDC);
}

void Reset() {
  PATSYM_HORIZ = win32::HS_HORIZONTAL;
  PATSYM_VERT = win32::HS_VERTICAL;
  PATSYM_DIAG2 = win32::HS_FDIAGONAL;
  PATSYM_DIAG1 = win32::HS_BDIAGONAL;
  PATSYM_DENSE2 = win32::HS_CROSS;
  PATSYM_DENSE1 = win32::HS_DIAGCROSS;
  PATSYM_SOLID = 8;
  tools.penTemplate = win32::LOGPEN{};
  tools.penTemplate.lopnWidth = win32::POINT{1, 0};
  tools.brushTemplate = win32::LOGBRUSH{};
  tools.fillMaskIsStd = true;
  tools.stdFillMask = PATSYM_SOLID;
  tools.stdBrushStyle = win32::BS_SOLID;
  tools.outlinePenStyle = win32::PS_SOLID;
}

}  // namespace drawing

void Ellipse(std::uint32_t x, std::uint32_t y, std::uint32_t a, std::uint32_t b,
             std::uint32_t colour, bool fill) {
  const cursor::Hidden cursor;
  if (a != 0 && b != 0) {
    drawing::Issue(drawing::Ellipse{{x - a, y - b, x + a, y + b}, colour, fill});
  } else {
    // Degenerate: the line through the centre; a = b = 0 is the centre pixel.
    drawing::Issue(drawing::Line{x - a, y - b, x + a, y + b, colour});
  }
}

void Circle(std::uint32_t x, std::uint32_t y, std::uint32_t r, std::uint32_t colour) {
  Ellipse(x, y, r, r, colour, false);
}

void Rectangle(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2,
               std::uint32_t colour, bool fill) {
  const cursor::Hidden cursor;
  drawing::drawBox(x1, y1, x2, y2, colour, fill);
}

void ClearScreen(std::uint32_t mode) {
  const cursor::Hidden cursor;
  if (mode == 0) {
    drawing::fillBox(0, 0, Width - 1, Depth - 1);
  } else if (mode == 2) {
    const drawing::Corners text = cursor::TextWindowPixels();
    drawing::fillBox(text.left, text.top, text.right, text.bottom);
  }
  SetTextPosition(1, 1);
}

// ---- Colours, masks and styles --------------------------------------------------

void InitStdPalette() {
  RemapAllPalette(drawing::stdPalette);
}

std::int32_t RemapAllPalette(std::span<const std::uint32_t> colours) {
  if (NumPColor < colours.size()) return -1;
  const std::size_t count = std::min(colours.size(), drawing::kPaletteCapacity);
  std::copy_n(colours.begin(), count, drawing::tools.paletteColours.begin());
  drawing::tools.paletteCount = static_cast<std::uint32_t>(count);
  drawing::IssueState(drawing::RealisePalette{});
  return 0;
}

std::uint32_t SetBkColor(std::uint32_t colour) {
  const std::uint32_t previous = drawing::tools.bkColour;
  drawing::tools.bkColour = colour;
  drawing::Issue(drawing::SetBkColour{colour});
  return previous;
}

void SetBkMix(bool opaque) {
  drawing::Issue(drawing::SetBkMode{opaque ? win32::OPAQUE : win32::TRANSPARENT});
}

void SetLinestyle(std::uint32_t style) {
  if (style >= drawing::penStyles.size()) return;  // not a line style: the current one stays
  drawing::IssueState(drawing::SetOutlineStyle{drawing::penStyles[style]});
}

void SetStdFillMask(std::uint32_t mask) {
  if (!drawing::isStdMask(mask)) return;  // not a mask number: the current mask stays
  drawing::tools.fillMaskIsStd = true;
  drawing::tools.stdFillMask = mask;
  drawing::IssueState(drawing::SelectStdMask{mask});
}

std::uint32_t GetStdFillMask() {
  return drawing::tools.stdFillMask;
}

void SetFillMask(const std::array<std::uint8_t, 8>& mask) {
  drawing::tools.fillMaskIsStd = false;
  drawing::tools.customFillMask = mask;
  // A monochrome bitmap's rows are padded to 16 bits; a clear bitmap bit
  // takes the text colour, so the rows hold the mask inverted.
  std::array<win32::WORD, 8> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i] = static_cast<win32::WORD>(255 - mask[i]);
  }
  win32::HBITMAP bitmap = win32::CreateBitmap(8, 8, 1, 1, rows.data());
  if (drawing::tools.patternBitmap != nullptr) win32::DeleteObject(drawing::tools.patternBitmap);
  drawing::tools.patternBitmap = bitmap;
  drawing::tools.brushTemplate.lbHatch = reinterpret_cast<win32::ULONG_PTR>(bitmap);
}

}  // namespace Graph
