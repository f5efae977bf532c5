#include "graph/Graph.h"
#include "graph/GraphTesting.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "runtime/WinRTL.h"
#include "graph/ktsIGraph.h"
#include "runtime/ModuleInit.h"
#include "runtime/TERMINATION.h"

namespace Graph {

std::uint32_t Width = 0;
std::uint32_t Depth = 0;
std::uint32_t NumPColor = 0;
std::uint32_t Rows = 0;
std::uint32_t Columns = 0;

std::uint32_t PATSYM_HORIZ = 0;
std::uint32_t PATSYM_VERT = 0;
std::uint32_t PATSYM_DIAG2 = 0;
std::uint32_t PATSYM_DIAG1 = 0;
std::uint32_t PATSYM_DENSE2 = 0;
std::uint32_t PATSYM_DENSE1 = 0;
std::uint32_t PATSYM_SOLID = 0;

namespace detail {
KeyRecordSink keyRecordSink = nullptr;
DrawingHook drawingHook = nullptr;
}  // namespace detail

namespace {

// ---- Server state -----------------------------------------------------------

constexpr char kClassName[] = "GraphWnd";
constexpr char kWindowTitle[] = "Graph";
constexpr char kFailureCaption[] = "Graph";
constexpr win32::UINT kClassStyle = 0x1020;        // CS_OWNDC | CS_BYTEALIGNCLIENT
constexpr win32::DWORD kWindowStyle = 0x108A0000;  // visible, bordered, system menu, minimise box
constexpr win32::UINT kFailureBoxFlags = 0x1010;   // MB_ICONERROR | MB_SYSTEMMODAL
constexpr win32::SIZE_T kServerStackSize = 8192;
constexpr std::uint32_t kHaltCode = 9;

bool initialised = false;

// Outer top-left corner and drawing-area size.
struct Geometry {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t depth = 0;
};

// What one window is made of; the server thread makes and releases it.
struct WindowObjects {
  win32::HWND window = nullptr;
  win32::HDC windowDC = nullptr;
  win32::HDC memoryDC = nullptr;
  win32::HBITMAP memoryBitmap = nullptr;
  // Selected into the two DCs; made under bitmapLock by each palette change,
  // deleted with the window.
  win32::HPALETTE windowPalette = nullptr;
  win32::HPALETTE memoryPalette = nullptr;
};

// The graphics server. The server thread makes and releases the window,
// its DCs, the bitmap and the palettes; the caller's thread reads them only
// between the handshakes on readyEvent, and owns the flags and the position.
// The repaint takes windowLock, then bitmapLock; every command takes
// bitmapLock, so the repaint never copies a half-drawn bitmap and the two
// DCs never see a command apart.
struct Server {
  bool started = false;          // the thread and its synchronisation objects exist
  bool windowClosed = false;     // Exit closed the window; the thread waits for Init
  bool classRegistered = false;  // for the process: a retried start must not register again
  std::uint32_t windowX = 0;
  std::uint32_t windowY = 0;
  win32::HANDLE thread = nullptr;
  win32::DWORD threadId = 0;
  // One event per direction, so that neither side can take its own signal:
  // readyEvent tells the caller the window was created or destroyed,
  // reopenEvent tells the waiting server to create the window again.
  win32::HANDLE readyEvent = nullptr;
  win32::HANDLE reopenEvent = nullptr;
  win32::HANDLE windowLock = nullptr;
  win32::HANDLE bitmapLock = nullptr;
  WindowObjects objects;
  // The geometry of the window Init asks for, handed to the server thread
  // with the request, and whether the server could not make that window.
  Geometry asked{};
  bool refused = false;
} server;

win32::HWND consoleWindow = nullptr;
std::uint32_t displayColours = 0;

// Modifier keys held down in the window; server thread only.
std::uint32_t keyState = 0;

// ---- Drawing state ----------------------------------------------------------

enum class Op : std::uint8_t {
  SetOutlineStyle = 2,
  SelectStdMask = 3,
  RealisePalette = 4,
  SetBkColour = 7,
  SetBkMode = 8,
  Pixel = 9,
  Box = 10,
  Line = 11,
  Ellipse = 12,
  Invert = 19,
};

// The one command record every operation writes before it is carried out.
struct DrawCommand {
  Op op;
  std::array<std::uint32_t, 5> arg;  // the code's 32-bit arguments, in order
  bool fill;
};
constexpr std::size_t kPaletteCapacity = 1024;

// The drawing tools, used under the bitmap lock (server.bitmapLock) by the
// thread that issues a command: the command record, the pen and brush
// templates and the objects made from them, the palette's colours, the
// masks and the line style.
struct Tools {
  DrawCommand command{};
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

// Counts the commands run so far (changed under the bitmap lock); the
// repaint reads it to see whether a drawing met its painting.
std::atomic<std::uint64_t> commandsIssued{0};

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

// ---- Text grid and cursor ---------------------------------------------------

// The text grid on the caller's thread: the font's metrics, the text window
// (1-based columns and rows) and the cursor.
struct TextGrid {
  std::uint32_t charHeight = 0;
  std::uint32_t charWidth = 0;
  std::uint32_t charDescent = 0;
  std::uint32_t textLeft = 0;
  std::uint32_t textRight = 0;
  std::uint32_t textTop = 0;
  std::uint32_t textBottom = 0;
  std::uint32_t cursorColumn = 0;
  std::uint32_t cursorRow = 0;
  bool cursorEnabled = false;
  bool cursorShown = false;
} grid;

// ---- Failures ---------------------------------------------------------------

void showFailure(const char* text, const char* caption) {
  win32::MessageBoxA(nullptr, text, caption, kFailureBoxFlags);
}

[[noreturn]] void haltWithFailure(const char* text) {
  showFailure(text, nullptr);
  K2C_HALT(kHaltCode);
}

// ---- Commands ---------------------------------------------------------------

std::int32_t gdiInt(std::uint32_t value) {
  return static_cast<std::int32_t>(value);
}

// Every wait here needs its object (a lock held, the server's answer): a
// queued callback that ends the wait early with WAIT_IO_COMPLETION only
// sends it round again.
void waitFor(win32::HANDLE object) {
  while (win32::WaitForSingleObject(object, win32::INFINITE) == win32::WAIT_IO_COMPLETION) {
  }
}

// Owns a mutex for one scope. A raise that unwinds through the scope (a
// break, a trap in a hook) lets it go, so the other thread never waits for
// a drawing that has gone.
class HeldLock {
 public:
  explicit HeldLock(win32::HANDLE mutex) : mutex_(mutex) { waitFor(mutex_); }
  ~HeldLock() { win32::ReleaseMutex(mutex_); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  win32::HANDLE mutex_;
};

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

void runLine(win32::HDC dc) {
  const auto& a = tools.command.arg;
  if (a[0] != a[2] || a[1] != a[3]) {
    const SelectedTools selected(dc, a[4], false);
    drawingStarts();
    win32::MoveToEx(dc, gdiInt(a[0]), gdiInt(a[1]), nullptr);
    win32::LineTo(dc, gdiInt(a[2]), gdiInt(a[3]));
  }
  // LineTo leaves out the end point; the pixel puts it in.
  win32::SetPixelV(dc, gdiInt(a[2]), gdiInt(a[3]), WinRTL::PALETTEINDEX(a[4]));
}

void runBox(win32::HDC dc) {
  const auto& a = tools.command.arg;
  const SelectedTools selected(dc, a[4], tools.command.fill);
  drawingStarts();
  win32::Rectangle(dc, gdiInt(a[0]), gdiInt(a[1]), gdiInt(a[2] + 1), gdiInt(a[3] + 1));
}

void runEllipse(win32::HDC dc) {
  const auto& a = tools.command.arg;
  const SelectedTools selected(dc, a[4], tools.command.fill);
  drawingStarts();
  if (tools.command.fill) {
    win32::Ellipse(dc, gdiInt(a[0]), gdiInt(a[1]), gdiInt(a[2]), gdiInt(a[3]));
  } else {
    win32::Arc(dc, gdiInt(a[0]), gdiInt(a[1]), gdiInt(a[2]), gdiInt(a[3]), 0, 0, 0, 0);
  }
}

void runCommand(win32::HDC dc) {
  const auto& a = tools.command.arg;
  switch (tools.command.op) {
    case Op::SetOutlineStyle:
      tools.outlinePenStyle = a[0];
      break;
    case Op::SelectStdMask:
      selectStdMask(a[0]);
      break;
    case Op::RealisePalette:
      realisePalette(server.objects.windowDC, server.objects.windowPalette);
      realisePalette(server.objects.memoryDC, server.objects.memoryPalette);
      break;
    case Op::SetBkColour:
      win32::SetBkColor(dc, WinRTL::PALETTEINDEX(a[0]));
      break;
    case Op::SetBkMode:
      win32::SetBkMode(dc, gdiInt(a[0]));
      break;
    case Op::Pixel:
      win32::SetPixelV(dc, gdiInt(a[0]), gdiInt(a[1]), WinRTL::PALETTEINDEX(a[2]));
      break;
    case Op::Box:
      runBox(dc);
      break;
    case Op::Line:
      runLine(dc);
      break;
    case Op::Ellipse:
      runEllipse(dc);
      break;
    case Op::Invert: {
      const win32::RECT area{gdiInt(a[0]), gdiInt(a[1]), gdiInt(a[2]), gdiInt(a[3])};
      win32::InvertRect(dc, &area);
      break;
    }
  }
}

// Runs the command on the bitmap, then on the window. Without a window there
// is nothing to draw into.
void issueCommand() {
  const HeldLock bitmap(server.bitmapLock);
  ++commandsIssued;
  if (server.objects.memoryDC != nullptr) {
    runCommand(server.objects.memoryDC);
    runCommand(server.objects.windowDC);
    win32::detail::ShowDrawing();
  }
}

// Runs a command that keeps its state in the module (or serves both DCs
// itself) once.
void issueStateCommand() {
  const HeldLock bitmap(server.bitmapLock);
  ++commandsIssued;
  runCommand(server.objects.memoryDC);
}

void setCommand(Op op, std::array<std::uint32_t, 5> arg = {}, bool fill = false) {
  tools.command = DrawCommand{op, arg, fill};
}

// ---- Cursor -------------------------------------------------------------------

void invertCursorCell() {
  setCommand(Op::Invert,
             {(grid.cursorColumn - 1) * grid.charWidth, (grid.cursorRow - 1) * grid.charHeight,
              grid.cursorColumn * grid.charWidth - 1, grid.cursorRow * grid.charHeight - 1});
  issueCommand();
}

void showCursor() {
  if (grid.cursorShown) return;
  invertCursorCell();
  grid.cursorShown = true;
}

void hideCursor() {
  if (!grid.cursorShown) return;
  invertCursorCell();
  grid.cursorShown = false;
}

void reapplyCursor() {
  DisplayCursor(grid.cursorEnabled);
}

// The cursor bracket of a drawing: the cursor cell is hidden while the
// drawing runs and shown again after it, also when a raise leaves the
// drawing. Showing it again while a raise unwinds may raise once more; that
// one is dropped, the first goes on to its handler.
class CursorHidden {
 public:
  CursorHidden() : raisesBefore_(std::uncaught_exceptions()) { hideCursor(); }
  ~CursorHidden() noexcept(false) {
    if (std::uncaught_exceptions() == raisesBefore_) {
      reapplyCursor();
      return;
    }
    try {
      reapplyCursor();
    } catch (...) {
    }
  }
  CursorHidden(const CursorHidden&) = delete;
  CursorHidden& operator=(const CursorHidden&) = delete;

 private:
  int raisesBefore_;
};

std::uint32_t clampInto(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

// A drawing area smaller than one cell has an empty grid; the text window
// then is the single cell (1, 1), which the DCs clip.
std::uint32_t lastColumn() {
  return std::max(Columns, 1u);
}
std::uint32_t lastRow() {
  return std::max(Rows, 1u);
}

void setUpTextGrid() {
  win32::TEXTMETRICA metrics{};
  win32::GetTextMetricsA(server.objects.windowDC, &metrics);
  grid.charHeight = static_cast<std::uint32_t>(metrics.tmHeight);
  grid.charDescent = static_cast<std::uint32_t>(metrics.tmDescent);
  grid.charWidth = static_cast<std::uint32_t>(metrics.tmMaxCharWidth);
  const bool rowsFit = grid.charHeight != 0 && Depth >= grid.charDescent;
  Rows = rowsFit ? (Depth - grid.charDescent) / grid.charHeight : 0;
  Columns = grid.charWidth != 0 ? Width / grid.charWidth : 0;
  SetTextWindow(1, 1, Columns, Rows);
}

// ---- Boxes --------------------------------------------------------------------

void drawBox(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2,
             std::uint32_t colour, bool fill) {
  if (x1 == x2 && y1 == y2) {
    setCommand(Op::Pixel, {x1, y1, colour});
  } else {
    setCommand(Op::Box,
               {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2), colour},
               fill);
  }
  issueCommand();
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

// ---- Window -------------------------------------------------------------------

// The console input buffer's control-key flags.
constexpr std::uint32_t kRightAltPressed = 0x0001;
constexpr std::uint32_t kLeftAltPressed = 0x0002;
constexpr std::uint32_t kRightCtrlPressed = 0x0004;
constexpr std::uint32_t kLeftCtrlPressed = 0x0008;
constexpr std::uint32_t kShiftPressed = 0x0010;
constexpr std::uint32_t kEnhancedKey = 0x0100;

std::uint32_t modifierFlag(std::uint32_t scanCode) {
  switch (scanCode) {
    case 0x2A:
    case 0x36:
      return kShiftPressed;
    case 0x1D:
      return kLeftCtrlPressed;
    case 0x38:
      return kLeftAltPressed;
    case 0x11D:
      return kRightCtrlPressed;
    case 0x138:
      return kRightAltPressed;
    default:
      return 0;
  }
}

// Hands the record to the console input buffer, where the event queue reads
// it like a key typed on the console. It carries neither a character nor a
// virtual-key code: the queue translates it by scan code and state. What the
// write answers is not looked at: a key that cannot be queued is lost, as a
// key typed into a full console buffer is.
void writeKeyRecord(const detail::KeyRecord& record) {
  if (detail::keyRecordSink != nullptr) {
    detail::keyRecordSink(record);
    return;
  }
  win32::INPUT_RECORD input{};
  input.EventType = win32::KEY_EVENT;
  win32::KEY_EVENT_RECORD& key = input.Event.KeyEvent;
  key.bKeyDown = record.keyDown ? 1 : 0;
  key.wRepeatCount = 1;
  key.wVirtualKeyCode = 0;
  key.wVirtualScanCode = record.scanCode;
  key.uChar.UnicodeChar = 0;
  key.dwControlKeyState = record.controlKeyState;
  win32::DWORD written = 0;
  win32::WriteConsoleInputA(ktsIGraph::hConsoleInput, &input, 1, &written);
}

void forwardKey(bool keyDown, win32::LPARAM lParam) {
  // Scan code in bits 16-23, extended-key flag in bit 24.
  const std::uint32_t scanCode = (static_cast<std::uint32_t>(lParam) >> 16) & 0x1FF;
  if (scanCode > 0xFF) {
    keyState |= kEnhancedKey;
  } else {
    keyState &= ~kEnhancedKey;
  }
  const detail::KeyRecord record{keyDown, static_cast<std::uint16_t>(scanCode & 0xFF), keyState};
  if (keyDown) {
    keyState |= modifierFlag(scanCode);
  } else {
    keyState &= ~modifierFlag(scanCode);
  }
  writeKeyRecord(record);
}

// Painting begins before the locks are taken: BeginPaint sends
// WM_ERASEBKGND, and the window hook must never run inside them. Between
// BeginPaint and EndPaint the window's own DC is clipped to the update area,
// so a drawing made on the caller's thread then reaches the window only in
// part; the repaint sees it by the command count and copies the whole
// bitmap again once the DC is whole.
void copyBitmapToWindow() {
  const HeldLock window(server.windowLock);
  const HeldLock bitmap(server.bitmapLock);
  win32::BitBlt(server.objects.windowDC, 0, 0, gdiInt(Width), gdiInt(Depth),
                server.objects.memoryDC, 0, 0, win32::SRCCOPY);
}

void repaint(win32::HWND window) {
  const std::uint64_t commandsBefore = commandsIssued.load();
  win32::PAINTSTRUCT paint{};
  win32::BeginPaint(window, &paint);
  copyBitmapToWindow();
  win32::EndPaint(window, &paint);
  if (commandsIssued.load() != commandsBefore) copyBitmapToWindow();
}

void realiseWindowPalette() {
  const HeldLock window(server.windowLock);
  const HeldLock bitmap(server.bitmapLock);
  win32::RealizePalette(server.objects.windowDC);
}

win32::LRESULT windowProcedure(win32::HWND window, win32::UINT message, win32::WPARAM wParam,
                               win32::LPARAM lParam) {
  if (ktsIGraph::proc != nullptr) {
    ktsIGraph::proc(window, message, static_cast<std::uint32_t>(wParam),
                    static_cast<std::int32_t>(lParam));
  }
  switch (message) {
    case win32::WM_ACTIVATE:
      keyState = 0;
      return win32::DefWindowProcA(window, message, wParam, lParam);
    case win32::WM_PAINT:
      repaint(window);
      return 0;
    case win32::WM_CLOSE:
      return 0;  // the user cannot close the window
    case win32::WM_KEYDOWN:
    case win32::WM_SYSKEYDOWN:
      forwardKey(true, lParam);
      return 0;
    case win32::WM_KEYUP:
    case win32::WM_SYSKEYUP:
      forwardKey(false, lParam);
      return 0;
    case win32::WM_QUERYNEWPALETTE:
      realiseWindowPalette();
      return 0;
    default:
      return win32::DefWindowProcA(window, message, wParam, lParam);
  }
}

void registerWindowClass() {
  win32::WNDCLASSA windowClass{};
  windowClass.style = kClassStyle;
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = win32::GetModuleHandleA(nullptr);
  windowClass.hIcon = win32::LoadIconA(nullptr, win32::IDI_APPLICATION);
  windowClass.hCursor = win32::LoadCursorA(nullptr, win32::IDC_ARROW);
  windowClass.hbrBackground = win32::CreateSolidBrush(WinRTL::RGB(0, 0, 0));
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = kClassName;
  if (win32::RegisterClassA(&windowClass) == 0) haltWithFailure("Win class was not registered");
}

constexpr char kWindowFailure[] = "Couldn't create main window";
// The most pixels a bitmap may have (as the GDI allows).
constexpr std::uint64_t kMaxBitmapPixels = std::uint64_t{1} << 26;

// What the frame adds to the drawing area, as the system draws it for the
// window's style: a drawing area of the asked size, whatever frame the
// system gives. An overlapped window always has a caption, which
// AdjustWindowRect counts only when the style names it. Without an answer,
// the classic frame: a border each side and the caption.
struct FrameSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
};

FrameSize frameSize() {
  win32::RECT frame{0, 0, 0, 0};
  if (win32::AdjustWindowRect(&frame, kWindowStyle | win32::WS_CAPTION, win32::FALSE)) {
    return FrameSize{std::int64_t{frame.right} - frame.left,
                     std::int64_t{frame.bottom} - frame.top};
  }
  return FrameSize{2 * win32::GetSystemMetrics(win32::SM_CXBORDER),
                   2 * win32::GetSystemMetrics(win32::SM_CYBORDER) +
                       win32::GetSystemMetrics(win32::SM_CYCAPTION)};
}

// A bitmap of the size can be made, and the window's outer size (the frame
// added) is an int.
bool windowSizeFits(std::uint32_t width, std::uint32_t depth) {
  if (std::uint64_t{width} * depth > kMaxBitmapPixels) return false;
  const FrameSize frame = frameSize();
  constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
  return width + frame.width <= kIntMax && depth + frame.height <= kIntMax;
}

// The DCs go before their bitmap and palettes: an object still selected
// into a DC cannot be deleted.
void destroyWindowObjects(const WindowObjects& objects) {
  if (objects.window != nullptr) win32::DestroyWindow(objects.window);
  if (objects.memoryDC != nullptr) win32::DeleteDC(objects.memoryDC);
  if (objects.memoryBitmap != nullptr) win32::DeleteObject(objects.memoryBitmap);
  if (objects.memoryPalette != nullptr) win32::DeleteObject(objects.memoryPalette);
  if (objects.windowPalette != nullptr) win32::DeleteObject(objects.windowPalette);
}

// On the server thread, with the geometry Init asked for. The bitmap's
// content stays undefined until Init clears it. False when the display or
// the GDI refuses the size; then nothing is left behind.
bool makeWindow(WindowObjects& made) {
  const Geometry& asked = server.asked;
  const FrameSize frame = frameSize();
  const auto outerWidth = static_cast<std::int32_t>(asked.width + frame.width);
  const auto outerHeight = static_cast<std::int32_t>(asked.depth + frame.height);
  made.window = win32::CreateWindowExA(0, kClassName, kWindowTitle, kWindowStyle, gdiInt(asked.x),
                                       gdiInt(asked.y), outerWidth, outerHeight, nullptr, nullptr,
                                       win32::GetModuleHandleA(nullptr), nullptr);
  if (made.window == nullptr) return false;
  made.windowDC = win32::GetDC(made.window);
  made.memoryDC = win32::CreateCompatibleDC(made.windowDC);
  made.memoryBitmap =
      win32::CreateCompatibleBitmap(made.windowDC, gdiInt(asked.width), gdiInt(asked.depth));
  if (made.memoryDC == nullptr || made.memoryBitmap == nullptr) {
    destroyWindowObjects(made);
    made = WindowObjects{};
    return false;
  }
  win32::SelectObject(made.memoryDC, made.memoryBitmap);
  return true;
}

WindowObjects currentWindow() {
  return server.objects;
}

// The caller waits for the server's answer meanwhile, so the size it reads
// afterwards is the one of the window it then draws into.
void installWindow(const WindowObjects& objects) {
  server.objects = objects;
  Width = server.asked.width;
  Depth = server.asked.depth;
  server.windowX = server.asked.x;
  server.windowY = server.asked.y;
}

void createWindow() {
  WindowObjects made;
  if (!makeWindow(made)) haltWithFailure(kWindowFailure);
  installWindow(made);
}

// A new window starts wholly invalid. Its first paint (an erase, then the
// copy) is made before Init goes on, so that it never meets Init's first
// drawings half-way.
void paintNewWindow() {
  win32::UpdateWindow(server.objects.window);
}

void destroyWindow() {
  destroyWindowObjects(currentWindow());
  installWindow(WindowObjects{});
}

// Init on an open window: the new window is made before the old one goes,
// so a size the display refuses leaves the old window with its picture.
void replaceWindow() {
  WindowObjects made;
  server.refused = !makeWindow(made);
  if (server.refused) {
    showFailure(kWindowFailure, nullptr);
  } else {
    const WindowObjects old = currentWindow();
    installWindow(made);
    destroyWindowObjects(old);
    paintNewWindow();
  }
  win32::SetEvent(server.readyEvent);
}

// A failure box for the caller: while the window is open the server thread
// shows it, since a display may show dialogs only on the thread that runs
// its windows.
void showFailureForCaller(const char* text) {
  showFailure(text, nullptr);
  win32::SetEvent(server.readyEvent);
}

// Requests of the caller's thread, posted to the server thread by its
// thread identifier.
constexpr win32::UINT kReplaceWindowRequest = win32::WM_APP + 1;
constexpr win32::UINT kShowFailureRequest = win32::WM_APP + 2;

bool handleRequest(const win32::MSG& message) {
  if (message.hwnd != nullptr) return false;
  switch (message.message) {
    case kReplaceWindowRequest:
      replaceWindow();
      return true;
    case kShowFailureRequest:
      showFailureForCaller(reinterpret_cast<const char*>(message.lParam));
      return true;
    default:
      return false;
  }
}

void runMessageLoop() {
  win32::MSG message{};
  while (win32::GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (handleRequest(message)) continue;
    win32::TranslateMessage(&message);
    win32::DispatchMessageA(&message);
  }
}

// While the window is closed: each Init asks for one; a size the display
// refuses is answered as such, and the server waits for the next Init.
void awaitReopening() {
  for (;;) {
    waitFor(server.reopenEvent);
    WindowObjects made;
    server.refused = !makeWindow(made);
    if (!server.refused) {
      installWindow(made);
      return;
    }
    showFailure(kWindowFailure, nullptr);
    win32::SetEvent(server.readyEvent);
  }
}

win32::DWORD serveWindow(win32::LPVOID) {
  createWindow();
  for (;;) {
    paintNewWindow();
    win32::SetEvent(server.readyEvent);
    runMessageLoop();
    destroyWindow();
    win32::SetEvent(server.readyEvent);
    awaitReopening();
  }
}

// ---- Console window -------------------------------------------------------------

constexpr char kConsoleMarker[] = "__Tarvo console@@@###___vindo";
constexpr int kTitleCapacity = 256;
// The console shows a new title at once or after a moment, or never (no
// console window at all): look a few times, briefly, then give up.
constexpr int kConsoleSearchTries = 5;
constexpr win32::DWORD kConsoleSearchPauseMs = 20;

win32::BOOL matchConsoleMarker(win32::HWND window, win32::LPARAM found) {
  char text[kTitleCapacity] = {};
  const int length = win32::GetWindowTextA(window, text, kTitleCapacity);
  if (length <= 0 || std::string_view(text, static_cast<std::size_t>(length)) != kConsoleMarker) {
    return win32::TRUE;
  }
  *reinterpret_cast<win32::HWND*>(found) = window;
  return win32::FALSE;
}

win32::HWND findConsoleWindow() {
  char savedTitle[kTitleCapacity] = {};
  win32::GetConsoleTitleA(savedTitle, kTitleCapacity);
  if (!win32::SetConsoleTitleA(kConsoleMarker)) return nullptr;
  win32::HWND found = nullptr;
  for (int attempt = 0; attempt < kConsoleSearchTries && found == nullptr; ++attempt) {
    if (attempt > 0) win32::Sleep(kConsoleSearchPauseMs);
    win32::EnumWindows(matchConsoleMarker, reinterpret_cast<win32::LPARAM>(&found));
  }
  win32::SetConsoleTitleA(savedTitle);
  return found;
}

// ---- Start and end ------------------------------------------------------------

win32::HANDLE newAutoResetEvent() {
  return win32::CreateEventA(nullptr, win32::FALSE, win32::FALSE, nullptr);
}

// The first Init, or a later one after a failed start: makes what is still
// missing and waits until the server has created the window.
bool startServer() {
  if (!server.classRegistered) {
    consoleWindow = findConsoleWindow();
    registerWindowClass();
    server.classRegistered = true;
  }
  if (server.readyEvent == nullptr) server.readyEvent = newAutoResetEvent();
  if (server.reopenEvent == nullptr) server.reopenEvent = newAutoResetEvent();
  if (server.readyEvent == nullptr || server.reopenEvent == nullptr) {
    showFailure("Event not created", kFailureCaption);
    return false;
  }
  if (server.windowLock == nullptr)
    server.windowLock = win32::CreateMutexA(nullptr, win32::FALSE, nullptr);
  if (server.windowLock == nullptr) {
    showFailure("Mutex not created", kFailureCaption);
    return false;
  }
  server.thread =
      win32::CreateThread(nullptr, kServerStackSize, serveWindow, nullptr, 0, &server.threadId);
  if (server.thread == nullptr) {
    showFailure("Graph server not run", kFailureCaption);
    return false;
  }
  server.started = true;
  waitFor(server.readyEvent);
  return true;
}

bool reopenWindow() {
  win32::SetEvent(server.reopenEvent);
  waitFor(server.readyEvent);
  return !server.refused;
}

bool windowOpen() {
  return server.started && !server.windowClosed;
}

// The server answers on readyEvent once it has handled the request; a
// request that cannot be posted is not waited for.
bool askServer(win32::UINT request, win32::LPARAM parameter = 0) {
  if (!win32::PostThreadMessageA(server.threadId, request, 0, parameter)) return false;
  waitFor(server.readyEvent);
  return true;
}

bool replaceOpenWindow() {
  if (!askServer(kReplaceWindowRequest)) return false;
  return !server.refused;
}

void showFailureOnDisplay(const char* text) {
  if (windowOpen() && askServer(kShowFailureRequest, reinterpret_cast<win32::LPARAM>(text))) {
    return;
  }
  showFailure(text, nullptr);
}

void setDrawingDefaults() {
  InitStdPalette();
  SetLinestyle(0);
  SetBkMix(true);
  SetBkColor(0);
  ClearScreen(0);
}

// Neither the window nor the server thread is stopped: both end with the
// process.
void finalise() {
  win32::CloseHandle(server.windowLock);
  win32::CloseHandle(server.readyEvent);
  win32::CloseHandle(server.reopenEvent);
  win32::CloseHandle(server.bitmapLock);
}

std::uint32_t coloursForBits(std::int32_t bits) {
  if (bits <= 0) return 1;
  // 2^32 and more does not fit: the largest count stands for "at least".
  if (bits >= 32) return 0xFFFFFFFFu;
  return std::uint32_t{1} << bits;
}

std::uint32_t countDisplayColours() {
  win32::HDC display = win32::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  const std::int32_t bits = win32::GetDeviceCaps(display, win32::BITSPIXEL) *
                            win32::GetDeviceCaps(display, win32::PLANES);
  win32::DeleteDC(display);
  return coloursForBits(bits);
}

void setStartValues() {
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
  grid.cursorEnabled = false;
  grid.cursorShown = false;
  server.started = false;
  server.windowClosed = false;
}

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  ktsIGraph::BEGIN();
  K2C_FINALLY(finalise);
  server.bitmapLock = win32::CreateMutexA(nullptr, win32::FALSE, nullptr);
  displayColours = countDisplayColours();
  setStartValues();
}

bool Init(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t depth) {
  // Refused before anything changes: an open window keeps its bitmap.
  if (!windowSizeFits(width, depth)) {
    showFailureOnDisplay(kWindowFailure);
    return false;
  }
  server.asked = Geometry{x, y, width, depth};
  if (!server.started) {
    if (!startServer()) return false;
  } else if (!server.windowClosed) {
    if (!replaceOpenWindow()) return false;
  } else if (!reopenWindow()) {
    return false;
  }
  ktsIGraph::fGrMode = true;
  NumPColor = displayColours;
  setDrawingDefaults();
  setUpTextGrid();
  server.windowClosed = false;
  return true;
}

void Exit() {
  // A second Exit would wait for a server that is not in its message loop.
  if (!server.started || server.windowClosed) return;
  win32::PostThreadMessageA(server.threadId, win32::WM_QUIT, 0, 0);
  waitFor(server.readyEvent);
  server.windowClosed = true;
}

// ---- Drawing ------------------------------------------------------------------

void Ellipse(std::uint32_t x, std::uint32_t y, std::uint32_t a, std::uint32_t b,
             std::uint32_t colour, bool fill) {
  const CursorHidden cursor;
  if (a != 0 && b != 0) {
    setCommand(Op::Ellipse, {x - a, y - b, x + a, y + b, colour}, fill);
  } else {
    // Degenerate: the line through the centre; a = b = 0 is the centre pixel.
    setCommand(Op::Line, {x - a, y - b, x + a, y + b, colour});
  }
  issueCommand();
}

void Circle(std::uint32_t x, std::uint32_t y, std::uint32_t r, std::uint32_t colour) {
  Ellipse(x, y, r, r, colour, false);
}

void Rectangle(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2,
               std::uint32_t colour, bool fill) {
  const CursorHidden cursor;
  drawBox(x1, y1, x2, y2, colour, fill);
}

void ClearScreen(std::uint32_t mode) {
  const CursorHidden cursor;
  if (mode == 0) {
    fillBox(0, 0, Width - 1, Depth - 1);
  } else if (mode == 2) {
    fillBox((grid.textLeft - 1) * grid.charWidth, (grid.textTop - 1) * grid.charHeight,
            grid.textRight * grid.charWidth, grid.textBottom * grid.charHeight + grid.charDescent);
  }
  SetTextPosition(1, 1);
}

// ---- Colours, masks and styles --------------------------------------------------

void InitStdPalette() {
  RemapAllPalette(stdPalette);
}

std::int32_t RemapAllPalette(std::span<const std::uint32_t> colours) {
  if (NumPColor < colours.size()) return -1;
  const std::size_t count = std::min(colours.size(), kPaletteCapacity);
  std::copy_n(colours.begin(), count, tools.paletteColours.begin());
  tools.paletteCount = static_cast<std::uint32_t>(count);
  setCommand(Op::RealisePalette);
  issueStateCommand();
  return 0;
}

std::uint32_t SetBkColor(std::uint32_t colour) {
  const std::uint32_t previous = tools.bkColour;
  tools.bkColour = colour;
  setCommand(Op::SetBkColour, {colour});
  issueCommand();
  return previous;
}

void SetBkMix(bool opaque) {
  setCommand(Op::SetBkMode,
             {opaque ? std::uint32_t{win32::OPAQUE} : std::uint32_t{win32::TRANSPARENT}});
  issueCommand();
}

void SetLinestyle(std::uint32_t style) {
  if (style >= penStyles.size()) return;  // not a line style: the current one stays
  setCommand(Op::SetOutlineStyle, {penStyles[style]});
  issueStateCommand();
}

void SetStdFillMask(std::uint32_t mask) {
  if (!isStdMask(mask)) return;  // not a mask number: the current mask stays
  tools.fillMaskIsStd = true;
  tools.stdFillMask = mask;
  setCommand(Op::SelectStdMask, {mask});
  issueStateCommand();
}

std::uint32_t GetStdFillMask() {
  return tools.stdFillMask;
}

void SetFillMask(const std::array<std::uint8_t, 8>& mask) {
  tools.fillMaskIsStd = false;
  tools.customFillMask = mask;
  // A monochrome bitmap's rows are padded to 16 bits; a clear bitmap bit
  // takes the text colour, so the rows hold the mask inverted.
  std::array<win32::WORD, 8> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i] = static_cast<win32::WORD>(255 - mask[i]);
  }
  win32::HBITMAP bitmap = win32::CreateBitmap(8, 8, 1, 1, rows.data());
  if (tools.patternBitmap != nullptr) win32::DeleteObject(tools.patternBitmap);
  tools.patternBitmap = bitmap;
  tools.brushTemplate.lbHatch = reinterpret_cast<win32::ULONG_PTR>(bitmap);
}

// ---- Text window and cursor -------------------------------------------------------

void SetTextWindow(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2) {
  x1 = clampInto(x1, 1, lastColumn());
  x2 = clampInto(x2, 1, lastColumn());
  y1 = clampInto(y1, 1, lastRow());
  y2 = clampInto(y2, 1, lastRow());
  grid.textLeft = std::min(x1, x2);
  grid.textTop = std::min(y1, y2);
  grid.textRight = std::max(x1, x2);
  grid.textBottom = std::max(y1, y2);
  SetTextPosition(grid.textLeft, grid.textTop);
}

TextCell SetTextPosition(std::uint32_t column, std::uint32_t row) {
  column = clampInto(column, grid.textLeft, grid.textRight);
  row = clampInto(row, grid.textTop, grid.textBottom);
  const TextCell previous{grid.cursorRow, grid.cursorColumn};
  hideCursor();
  grid.cursorColumn = column;
  grid.cursorRow = row;
  DisplayCursor(grid.cursorEnabled);
  return previous;
}

bool DisplayCursor(bool on) {
  const bool previous = grid.cursorEnabled;
  grid.cursorEnabled = on;
  if (on) {
    showCursor();
  } else {
    hideCursor();
  }
  return previous;
}

namespace detail {
win32::HWND Window() {
  return server.objects.window;
}
win32::HDC BitmapDC() {
  return server.objects.memoryDC;
}
win32::HDC WindowDC() {
  return server.objects.windowDC;
}
win32::DWORD ServerThreadId() {
  return server.threadId;
}
}  // namespace detail

}  // namespace Graph
