#include "platform/user/Painting.h"

#include <algorithm>
#include <set>

#include "platform/display/Display.h"
#include "platform/gdi/GdiInternal.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ThreadsInternal.h"
#include "platform/user/User.h"
#include "platform/user/WindowTable.h"

namespace win32 {

namespace {

// DCs handed out by GetDC that ReleaseDC deletes (not the windows' own DCs).
struct CommonDCs {
  std::mutex lock;
  std::set<HDC> issued;
};

CommonDCs& commonDCs() {
  static CommonDCs* instance = new CommonDCs;  // lives until the process ends
  return *instance;
}

HDC IssueCommonDC(std::shared_ptr<detail::Surface> surface) {
  HDC dc = detail::CreateSurfaceDC(std::move(surface));
  if (dc == nullptr) return nullptr;
  std::lock_guard guard(commonDCs().lock);
  commonDCs().issued.insert(dc);
  return dc;
}

bool TakeCommonDC(HDC dc) {
  std::lock_guard guard(commonDCs().lock);
  return commonDCs().issued.erase(dc) != 0;
}

// What is left of the update rectangle after validating one area. The update
// is kept as its bounding rectangle, so only a cut along a whole side shrinks
// it; any other cut leaves it as it is (painting too much is harmless).
RECT SubtractRect(const RECT& update, const RECT& cut) {
  RECT inside = detail::IntersectRects(update, cut);
  if (detail::IsEmptyRect(inside)) return update;
  const bool fullWidth = inside.left == update.left && inside.right == update.right;
  const bool fullHeight = inside.top == update.top && inside.bottom == update.bottom;
  if (fullWidth && fullHeight) return {0, 0, 0, 0};
  RECT rest = update;
  if (fullWidth && inside.top == update.top) rest.top = inside.bottom;
  if (fullWidth && inside.bottom == update.bottom) rest.bottom = inside.top;
  if (fullHeight && inside.left == update.left) rest.left = inside.right;
  if (fullHeight && inside.right == update.right) rest.right = inside.left;
  return rest;
}

void Invalidate(detail::Window& window, const RECT* rect, BOOL erase) {
  const RECT client = detail::ClientRectOf(window);
  const RECT area = rect != nullptr ? detail::IntersectRects(*rect, client) : client;
  if (detail::IsEmptyRect(area)) return;
  {
    std::lock_guard guard(detail::WindowTableLock());
    window.update = window.hasUpdate ? detail::UnionRects(window.update, area) : area;
    window.hasUpdate = true;
    window.eraseUpdate = window.eraseUpdate || erase != FALSE;
  }
  if (auto queue = detail::ExistingQueueOfThread(window.threadId)) queue->wake();
}

}  // namespace

namespace detail {

std::optional<MSG> NextPaintMessage(const MessageFilter& filter) {
  if (!filter.acceptsNumber(WM_PAINT)) return std::nullopt;
  for (const auto& window : WindowsOfThread(GetCurrentThreadId())) {
    MSG paint{window->handle, WM_PAINT, 0, 0, MessageTime(), {0, 0}};
    if (!filter.accepts(paint)) continue;
    std::lock_guard guard(WindowTableLock());
    if (window->hasUpdate) return paint;
  }
  return std::nullopt;
}

bool EraseBackground(HWND handle, HDC dc) {
  auto window = LookupWindow(handle);
  if (!window || dc == nullptr) return false;
  HBRUSH brush = window->windowClass->attributes.hbrBackground;
  if (brush == nullptr) return false;
  const RECT client = ClientRectOf(*window);
  FillRect(dc, &client, brush);  // the DC is clipped to the update area
  return true;
}

void InvalidateExposedArea(HWND handle, const RECT& clientArea) {
  InvalidateRect(handle, &clientArea, TRUE);
}

}  // namespace detail

BOOL InvalidateRect(HWND handle, const RECT* rect, BOOL erase) {
  if (handle == nullptr) {  // every window, as a repaint of the whole screen
    for (HWND each : detail::WindowsTopFirst()) InvalidateRect(each, nullptr, erase);
    return TRUE;
  }
  auto window = detail::LookupWindow(handle);
  if (!window) return FALSE;
  Invalidate(*window, rect, erase);
  return TRUE;
}

BOOL ValidateRect(HWND handle, const RECT* rect) {
  auto window = detail::LookupWindow(handle);
  if (!window) return FALSE;
  std::lock_guard guard(detail::WindowTableLock());
  if (!window->hasUpdate) return TRUE;
  window->update = rect != nullptr ? SubtractRect(window->update, *rect) : RECT{0, 0, 0, 0};
  window->hasUpdate = !detail::IsEmptyRect(window->update);
  if (!window->hasUpdate) window->eraseUpdate = false;
  return TRUE;
}

BOOL GetUpdateRect(HWND handle, RECT* rect, BOOL) {
  auto window = detail::LookupWindow(handle);
  if (!window) return FALSE;
  std::lock_guard guard(detail::WindowTableLock());
  if (rect != nullptr) *rect = window->hasUpdate ? window->update : RECT{0, 0, 0, 0};
  return window->hasUpdate ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND handle) {
  auto window = detail::LookupWindow(handle);
  if (!window) return FALSE;
  bool invalid = false;
  {
    std::lock_guard guard(detail::WindowTableLock());
    invalid = window->hasUpdate;
  }
  if (invalid && window->threadId == GetCurrentThreadId()) SendMessageA(handle, WM_PAINT, 0, 0);
  return TRUE;
}

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
  auto window = detail::LookupWindow(handle);
  if (!window || paint == nullptr) {
    if (window) SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  RECT area{0, 0, 0, 0};
  bool erase = false;
  HDC dc = nullptr;
  std::shared_ptr<detail::Surface> surface;
  {
    std::lock_guard guard(detail::WindowTableLock());
    if (window->hasUpdate) area = window->update;
    erase = window->eraseUpdate;
    window->hasUpdate = false;
    window->eraseUpdate = false;
    window->update = {0, 0, 0, 0};
    dc = window->ownDC;
    surface = window->surface;
  }
  if (dc == nullptr) dc = detail::CreateSurfaceDC(surface);
  if (dc == nullptr) return nullptr;
  detail::SetDCClip(dc, &area);
  *paint = PAINTSTRUCT{};
  paint->hdc = dc;
  paint->rcPaint = area;
  if (erase) {
    paint->fErase =
        SendMessageA(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0 ? TRUE : FALSE;
  }
  return dc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
  if (paint == nullptr || paint->hdc == nullptr) return FALSE;
  detail::SetDCClip(paint->hdc, nullptr);
  auto window = detail::LookupWindow(handle);
  HDC ownDC = nullptr;
  if (window) {
    std::lock_guard guard(detail::WindowTableLock());
    ownDC = window->ownDC;
  }
  if (paint->hdc != ownDC) DeleteDC(paint->hdc);
  return TRUE;
}

HDC GetDC(HWND handle) {
  if (handle == nullptr) return IssueCommonDC(detail::CurrentDisplay().screen());
  auto window = detail::LookupWindow(handle);
  if (!window) return nullptr;
  std::shared_ptr<detail::Surface> surface;
  {
    std::lock_guard guard(detail::WindowTableLock());
    if (window->ownDC != nullptr) return window->ownDC;
    surface = window->surface;
  }
  return IssueCommonDC(std::move(surface));
}

int ReleaseDC(HWND handle, HDC dc) {
  if (dc == nullptr) return 0;
  if (TakeCommonDC(dc)) {
    DeleteDC(dc);
    return 1;
  }
  // A window's own DC stays with the window; releasing it is allowed.
  auto window = detail::LookupWindow(handle);
  if (!window) return 0;
  std::lock_guard guard(detail::WindowTableLock());
  return window->ownDC == dc ? 1 : 0;
}

}  // namespace win32
