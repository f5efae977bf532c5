// Window classes, windows, their text and rectangles, enumeration, the
// default window procedure, system metrics and stock icons.
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <cstring>
#include <string>

#include "platform/console/Console.h"
#include "platform/display/Display.h"
#include "platform/gdi/GdiInternal.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ThreadsInternal.h"
#include "platform/user/DisplayInput.h"
#include "platform/user/MessageQueue.h"
#include "platform/user/Painting.h"
#include "platform/user/User.h"
#include "platform/user/WindowTable.h"

namespace win32 {

namespace {

using detail::Window;

// The classic metrics the frame is drawn with.
constexpr int kCaptionHeight = 19;
constexpr int kBorderWidth = 1;
constexpr int kSizingFrameWidth = 4;
constexpr int kDialogFrameWidth = 3;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

constexpr DWORD kErrorNoDisplay = ERROR_NOT_SUPPORTED;
constexpr DWORD kErrorResourceNameNotFound = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND

// Stock images: LoadIconA/LoadCursorA with no instance and a system id.
constexpr ULONG_PTR kFirstSystemImage = 32512;
constexpr ULONG_PTR kLastSystemIcon = 32516;
constexpr ULONG_PTR kLastSystemCursor = 32515;
constexpr ULONG_PTR kStockIconBase = 0x10000;
constexpr ULONG_PTR kStockCursorBase = 0x20000;

bool IsResourceId(LPCSTR name) {
  return reinterpret_cast<ULONG_PTR>(name) < 0x10000;
}

// The frame around the client area of a top-level window.
int FrameWidth(DWORD style) {
  if ((style & WS_THICKFRAME) != 0) return kSizingFrameWidth;
  if ((style & WS_CAPTION) == WS_DLGFRAME) return kDialogFrameWidth;
  const bool overlapped = (style & WS_POPUP) == 0;
  return overlapped || (style & WS_BORDER) != 0 ? kBorderWidth : 0;
}

// Overlapped windows always have a caption; pop-ups only with WS_CAPTION.
int CaptionHeight(DWORD style) {
  const bool overlapped = (style & WS_POPUP) == 0;
  return overlapped || (style & WS_CAPTION) == WS_CAPTION ? kCaptionHeight : 0;
}

detail::WindowPlacement PlacementFor(DWORD style, int x, int y, int width, int height,
                                     LPCSTR title) {
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = kDefaultWidth;
    height = kDefaultHeight;
  }
  width = std::max(width, 0);
  height = std::max(height, 0);
  const int frame = FrameWidth(style);
  const int caption = CaptionHeight(style);
  // The rectangles' far edges must be ints too: a window placed further out
  // than that keeps its size and moves in until its right or bottom edge
  // (or its client area's) is the largest int.
  constexpr int kMaxEdge = std::numeric_limits<int>::max();
  x = std::min(x, kMaxEdge - std::max(width, 2 * frame));
  y = std::min(y, kMaxEdge - std::max(height, 2 * frame + caption));
  detail::WindowPlacement placement;
  placement.outer = {x, y, x + width, y + height};
  placement.client = {x + frame, y + frame + caption, std::max(x + frame, x + width - frame),
                      std::max(y + frame + caption, y + height - frame)};
  placement.title = title != nullptr ? title : "";
  return placement;
}

// Takes a window out of the tables and off the display, without messages.
void RemoveFromSystem(const std::shared_ptr<Window>& window) {
  HDC ownDC = nullptr;
  {
    std::lock_guard guard(detail::WindowTableLock());
    if (window->destroyed) return;
    window->destroyed = true;
    ownDC = window->ownDC;
    window->ownDC = nullptr;
  }
  if (detail::Display* display = detail::DisplayInUse()) display->closeWindow(window->handle);
  if (ownDC != nullptr) DeleteDC(ownDC);
  // At thread end the queue may be gone already; do not make a new one.
  if (auto queue = detail::ExistingQueueOfThread(window->threadId)) {
    queue->discardWindow(window->handle);
  }
  detail::RemoveWindow(window->handle);
}

// A thread's windows go away when the thread ends, as on Windows.
struct ThreadWindows {
  ThreadWindows() = default;
  ThreadWindows(const ThreadWindows&) = delete;
  ThreadWindows& operator=(const ThreadWindows&) = delete;
  ~ThreadWindows() {
    for (const auto& window : detail::WindowsOfThread(threadId)) RemoveFromSystem(window);
  }
  DWORD threadId = GetCurrentThreadId();
};

void WatchThreadEnd() {
  thread_local ThreadWindows watcher;
}

std::shared_ptr<Window> OpenWindow(std::shared_ptr<const detail::WindowClass> windowClass,
                                   DWORD exStyle, DWORD style,
                                   const detail::WindowPlacement& placement) {
  auto window = std::make_shared<Window>();
  window->handle = detail::NewWindowHandle();
  window->windowClass = windowClass;
  window->style = style;
  window->exStyle = exStyle;
  window->threadId = GetCurrentThreadId();
  window->outer = placement.outer;
  window->client = placement.client;
  window->title = placement.title;
  detail::ConnectDisplayInput();
  window->surface = detail::CurrentDisplay().openWindow(window->handle, placement);
  if (!window->surface) return nullptr;
  if ((windowClass->attributes.style & (CS_OWNDC | CS_CLASSDC)) != 0) {
    window->ownDC = detail::CreateSurfaceDC(window->surface);
  }
  return window;
}

LRESULT CopyText(const std::string& text, WPARAM capacity, LPARAM buffer) {
  char* out = reinterpret_cast<char*>(buffer);
  if (out == nullptr || capacity == 0) return 0;
  const std::size_t n = std::min<std::size_t>(text.size(), capacity - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<LRESULT>(n);
}

void SetTitle(const std::shared_ptr<Window>& window, LPCSTR text) {
  std::string title = text != nullptr ? text : "";
  {
    std::lock_guard guard(detail::WindowTableLock());
    window->title = title;
  }
  if (detail::Display* display = detail::DisplayInUse()) display->setTitle(window->handle, title);
}

std::string TitleOf(const Window& window) {
  std::lock_guard guard(detail::WindowTableLock());
  return window.title;
}

bool OwnedByCaller(const Window& window) {
  return window.threadId == GetCurrentThreadId();
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
      windowClass->lpszClassName == nullptr || IsResourceId(windowClass->lpszClassName) ||
      windowClass->cbClsExtra < 0 || windowClass->cbWndExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ATOM atom = detail::AddClass(windowClass->lpszClassName, *windowClass);
  if (atom == 0) SetLastError(ERROR_CLASS_ALREADY_EXISTS);
  return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (className == nullptr || IsResourceId(className) || !detail::FindClass(className)) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  if (detail::ClassInUse(className)) {
    SetLastError(ERROR_ACCESS_DENIED);  // ERROR_CLASS_HAS_WINDOWS on Windows
    return FALSE;
  }
  return detail::RemoveClass(className) ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  auto windowClass =
      className != nullptr && !IsResourceId(className) ? detail::FindClass(className) : nullptr;
  if (!windowClass) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  if ((style & WS_CHILD) != 0) {  // only top-level windows are needed
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto placement = PlacementFor(style, x, y, width, height, windowName);
  auto window = OpenWindow(windowClass, exStyle, style, placement);
  if (!window) {
    SetLastError(kErrorNoDisplay);
    return nullptr;
  }
  WatchThreadEnd();
  detail::AddWindow(window);
  HWND handle = window->handle;

  CREATESTRUCTA create{param,
                       instance,
                       menu,
                       parent,
                       static_cast<int>(placement.outer.bottom - placement.outer.top),
                       static_cast<int>(placement.outer.right - placement.outer.left),
                       static_cast<int>(placement.outer.top),
                       static_cast<int>(placement.outer.left),
                       static_cast<LONG>(style),
                       windowName,
                       className,
                       exStyle};
  const LPARAM createParam = reinterpret_cast<LPARAM>(&create);
  if (SendMessageA(handle, WM_NCCREATE, 0, createParam) == FALSE) {
    SendMessageA(handle, WM_NCDESTROY, 0, 0);
    RemoveFromSystem(window);
    return nullptr;
  }
  if (SendMessageA(handle, WM_CREATE, 0, createParam) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  if (!IsWindow(handle)) return nullptr;  // destroyed while being created
  const RECT client = detail::ClientRectOf(*window);
  if ((style & WS_VISIBLE) != 0) {
    SendMessageA(handle, WM_SHOWWINDOW, TRUE, 0);
    InvalidateRect(handle, nullptr, TRUE);
  }
  SendMessageA(handle, WM_SIZE, 0,
               static_cast<LPARAM>((client.right & 0xFFFF) | ((client.bottom & 0xFFFF) << 16)));
  SendMessageA(
      handle, WM_MOVE, 0,
      static_cast<LPARAM>((window->client.left & 0xFFFF) | ((window->client.top & 0xFFFF) << 16)));
  return IsWindow(handle) ? handle : nullptr;
}

BOOL DestroyWindow(HWND handle) {
  auto window = detail::LookupWindow(handle);
  if (!window) return FALSE;
  if (!OwnedByCaller(*window)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  {
    std::lock_guard guard(detail::WindowTableLock());
    if (window->destroying) return TRUE;  // DestroyWindow from WM_DESTROY
    window->destroying = true;
  }
  SendMessageA(handle, WM_DESTROY, 0, 0);
  SendMessageA(handle, WM_NCDESTROY, 0, 0);
  RemoveFromSystem(window);
  return TRUE;
}

BOOL IsWindow(HWND handle) {
  if (handle == detail::ConsoleWindowHandle()) return TRUE;
  return detail::LookupWindow(handle) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND handle, LPDWORD processId) {
  DWORD thread = 0;
  if (handle != detail::ConsoleWindowHandle()) {
    auto window = detail::LookupWindow(handle);
    if (!window) return 0;
    thread = window->threadId;
  }
  if (processId != nullptr) *processId = static_cast<DWORD>(::getpid());
  return thread;
}

BOOL GetClientRect(HWND handle, RECT* rect) {
  auto window = detail::LookupWindow(handle);
  if (!window || rect == nullptr) return FALSE;
  *rect = detail::ClientRectOf(*window);
  return TRUE;
}

BOOL GetWindowRect(HWND handle, RECT* rect) {
  auto window = detail::LookupWindow(handle);
  if (!window || rect == nullptr) return FALSE;
  *rect = window->outer;
  return TRUE;
}

BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu) {
  if (rect == nullptr) return FALSE;
  const int frame = (style & (WS_CAPTION | WS_THICKFRAME)) != 0 ? FrameWidth(style) : 0;
  const int caption = (style & WS_CAPTION) == WS_CAPTION ? kCaptionHeight : 0;
  const int menuBar = menu ? GetSystemMetrics(SM_CYMENU) : 0;
  *rect = {rect->left - frame, rect->top - frame - caption - menuBar, rect->right + frame,
           rect->bottom + frame};
  return TRUE;
}

int GetWindowTextA(HWND handle, LPSTR buffer, int maxCount) {
  if (buffer == nullptr || maxCount <= 0) return 0;
  if (handle == detail::ConsoleWindowHandle()) {
    return static_cast<int>(GetConsoleTitleA(buffer, static_cast<DWORD>(maxCount)));
  }
  auto window = detail::LookupWindow(handle);
  if (!window) {
    buffer[0] = '\0';
    return 0;
  }
  // As on Windows, the window's own thread asks its procedure; other threads
  // read the stored text, so a busy window never blocks the caller.
  if (OwnedByCaller(*window)) {
    return static_cast<int>(SendMessageA(handle, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                         reinterpret_cast<LPARAM>(buffer)));
  }
  return static_cast<int>(
      CopyText(TitleOf(*window), static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND handle) {
  if (handle == detail::ConsoleWindowHandle()) {
    char title[1024];
    return static_cast<int>(GetConsoleTitleA(title, sizeof title));
  }
  auto window = detail::LookupWindow(handle);
  if (!window) return 0;
  if (OwnedByCaller(*window)) return static_cast<int>(SendMessageA(handle, WM_GETTEXTLENGTH, 0, 0));
  return static_cast<int>(TitleOf(*window).size());
}

BOOL SetWindowTextA(HWND handle, LPCSTR text) {
  if (handle == detail::ConsoleWindowHandle()) return SetConsoleTitleA(text != nullptr ? text : "");
  auto window = detail::LookupWindow(handle);
  if (!window) return FALSE;
  if (OwnedByCaller(*window)) {
    return SendMessageA(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
  }
  SetTitle(window, text);
  return TRUE;
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM lParam) {
  if (callback == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto windows = detail::WindowsTopFirst();
  windows.push_back(detail::ConsoleWindowHandle());
  for (HWND handle : windows) {
    if (handle != detail::ConsoleWindowHandle() && !IsWindow(handle)) continue;
    if (callback(handle, lParam) == FALSE) return FALSE;
  }
  return TRUE;
}

LRESULT CALLBACK DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (BeginPaint(handle, &paint) != nullptr) EndPaint(handle, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return detail::EraseBackground(handle, reinterpret_cast<HDC>(wParam)) ? 1 : 0;
    case WM_SETTEXT: {
      auto window = detail::LookupWindow(handle);
      if (!window) return FALSE;
      SetTitle(window, reinterpret_cast<LPCSTR>(lParam));
      return TRUE;
    }
    case WM_GETTEXT: {
      auto window = detail::LookupWindow(handle);
      return window ? CopyText(TitleOf(*window), wParam, lParam) : 0;
    }
    case WM_GETTEXTLENGTH: {
      auto window = detail::LookupWindow(handle);
      return window ? static_cast<LRESULT>(TitleOf(*window).size()) : 0;
    }
    default:
      return 0;
  }
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return detail::CurrentDisplay().screenSize().cx;
    case SM_CYSCREEN:
      return detail::CurrentDisplay().screenSize().cy;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return 16;
    case SM_CYCAPTION:
      return kCaptionHeight;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return kBorderWidth;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return kDialogFrameWidth;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return 32;
    case SM_CYMENU:
      return kCaptionHeight;
    case SM_MOUSEPRESENT:
      return 1;
    case SM_CXMIN:
      return 112;
    case SM_CYMIN:
      return 27;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return kSizingFrameWidth;
    case SM_CMOUSEBUTTONS:
      return 3;
    default:
      return 0;
  }
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  const auto id = reinterpret_cast<ULONG_PTR>(name);
  if (instance != nullptr || id < kFirstSystemImage || id > kLastSystemIcon) {
    SetLastError(kErrorResourceNameNotFound);
    return nullptr;
  }
  return reinterpret_cast<HICON>(kStockIconBase + id);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  const auto id = reinterpret_cast<ULONG_PTR>(name);
  if (instance != nullptr || id < kFirstSystemImage || id > kLastSystemCursor) {
    SetLastError(kErrorResourceNameNotFound);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(kStockCursorBase + id);
}

}  // namespace win32
