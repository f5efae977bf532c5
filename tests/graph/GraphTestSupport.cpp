#include "GraphTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "runtime/WinRTL.h"
#include "graph/ktsIGraph.h"

namespace graph_test {

namespace {

// The server thread may still call the hook while the process ends, so what
// it records is never destroyed.
struct Seen {
  std::mutex lock;
  std::vector<SeenMessage> messages;
  std::vector<Graph::detail::KeyRecord> keys;
  HookAction action;
};
Seen& seen() {
  static Seen* instance = new Seen;
  return *instance;
}

}  // namespace

void InstallRecorders() {
  // Installed once, before the server thread exists, and never changed.
  ktsIGraph::proc = RecordingHook;
  Graph::detail::keyRecordSink = RecordKey;
}

namespace {

void SelectStandardPalette(win32::HDC dc) {
  std::vector<std::uint8_t> storage(sizeof(win32::LOGPALETTE) +
                                    kStd.size() * sizeof(win32::PALETTEENTRY));
  auto* palette = reinterpret_cast<win32::LOGPALETTE*>(storage.data());
  palette->palVersion = 0x300;
  palette->palNumEntries = kStd.size();
  for (std::size_t i = 0; i < kStd.size(); ++i) {
    palette->palPalEntry[i] = win32::PALETTEENTRY{static_cast<win32::BYTE>(kStd[i] >> 16),
                                                  static_cast<win32::BYTE>(kStd[i] >> 8),
                                                  static_cast<win32::BYTE>(kStd[i]), 0};
  }
  win32::SelectPalette(dc, win32::CreatePalette(palette), win32::TRUE);
  win32::RealizePalette(dc);
}

}  // namespace

Picture BitmapPicture() {
  Canvas canvas(static_cast<std::int32_t>(Graph::Width), static_cast<std::int32_t>(Graph::Depth));
  win32::BitBlt(canvas.dc(), 0, 0, canvas.width(), canvas.height(), Graph::detail::BitmapDC(), 0, 0,
                win32::SRCCOPY);
  return canvas.picture();
}

Picture Recipe(const std::function<void(win32::HDC)>& draw, std::int32_t width,
               std::int32_t height) {
  Canvas canvas(width, height);
  win32::HDC dc = canvas.dc();
  SelectStandardPalette(dc);
  win32::SetBkColor(dc, WinRTL::PALETTEINDEX(0));
  win32::SetBkMode(dc, win32::OPAQUE);
  {
    Tools black(dc, win32::PS_SOLID, 0, win32::BS_SOLID);
    win32::Rectangle(dc, 0, 0, width, height);
  }
  draw(dc);
  return canvas.picture();
}

Tools::Tools(win32::HDC dc, win32::UINT penStyle, std::uint32_t colour, win32::UINT brushStyle,
             win32::ULONG_PTR hatch)
    : dc_(dc) {
  win32::LOGPEN pen{};
  pen.lopnStyle = penStyle;
  pen.lopnWidth = win32::POINT{1, 0};
  pen.lopnColor = WinRTL::PALETTEINDEX(colour);
  win32::LOGBRUSH brush{};
  brush.lbStyle = brushStyle;
  brush.lbColor = WinRTL::PALETTEINDEX(colour);
  brush.lbHatch = hatch;
  pen_ = win32::CreatePenIndirect(&pen);
  brush_ = win32::CreateBrushIndirect(&brush);
  oldPen_ = win32::SelectObject(dc, pen_);
  oldBrush_ = win32::SelectObject(dc, brush_);
}

Tools::~Tools() {
  win32::SelectObject(dc_, oldBrush_);
  win32::SelectObject(dc_, oldPen_);
  win32::DeleteObject(brush_);
  win32::DeleteObject(pen_);
}

std::vector<SeenMessage> HookMessages() {
  std::lock_guard guard(seen().lock);
  return seen().messages;
}

void ClearHookMessages() {
  std::lock_guard guard(seen().lock);
  seen().messages.clear();
}

bool HookSaw(std::uint32_t message) {
  std::lock_guard guard(seen().lock);
  return std::any_of(seen().messages.begin(), seen().messages.end(),
                     [message](const SeenMessage& each) { return each.message == message; });
}

std::int32_t RecordingHook(win32::HWND window, std::uint32_t message, std::uint32_t wParam,
                           std::int32_t lParam) {
  const SeenMessage seenNow{window, message, wParam, lParam};
  HookAction action;
  {
    std::lock_guard guard(seen().lock);
    seen().messages.push_back(seenNow);
    action = seen().action;
  }
  // Outside the record's lock: the action may wait for the test's thread.
  if (action) action(seenNow);
  return 12345;  // dropped by the window procedure
}

void SetHookAction(HookAction action) {
  std::lock_guard guard(seen().lock);
  seen().action = std::move(action);
}

std::vector<Graph::detail::KeyRecord> KeyRecords() {
  std::lock_guard guard(seen().lock);
  return seen().keys;
}

void ClearKeyRecords() {
  std::lock_guard guard(seen().lock);
  seen().keys.clear();
}

void RecordKey(const Graph::detail::KeyRecord& record) {
  std::lock_guard guard(seen().lock);
  seen().keys.push_back(record);
}

}  // namespace graph_test
