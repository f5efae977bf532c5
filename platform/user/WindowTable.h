// The window manager's records: registered classes and live windows, behind
// one lock. Handles are never reused, so a stale handle stays invalid.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/display/Surface.h"
#include "platform/kernel/Rects.h"
#include "platform/kernel/WinTypes.h"
#include "platform/user/User.h"

namespace win32::detail {

struct WindowClass {
  std::string name;
  WNDCLASSA attributes;
  ATOM atom;
};

struct Window {
  HWND handle = nullptr;
  std::shared_ptr<const WindowClass> windowClass;
  DWORD style = 0;
  DWORD exStyle = 0;
  DWORD threadId = 0;
  RECT outer{};   // screen coordinates
  RECT client{};  // screen coordinates
  // The fields below are guarded by WindowTableLock().
  std::string title;
  std::shared_ptr<Surface> surface;  // the client area on the display
  HDC ownDC = nullptr;               // CS_OWNDC / CS_CLASSDC classes
  bool hasUpdate = false;            // the update region is not empty
  RECT update{};                     // its bounding rectangle, client coordinates
  bool eraseUpdate = false;          // the next BeginPaint sends WM_ERASEBKGND
  bool destroying = false;           // DestroyWindow has begun (it sends messages)
  bool destroyed = false;
};

// The pseudo window that stands for the console (its text is the console
// title); listed last by EnumWindows.
HWND ConsoleWindowHandle();

std::mutex& WindowTableLock();

// Classes. The lookup ignores case, as class names do on Windows.
std::shared_ptr<const WindowClass> FindClass(const std::string& name);
// Adds the class; 0 when the name is taken.
ATOM AddClass(const std::string& name, const WNDCLASSA& attributes);
bool RemoveClass(const std::string& name);
// Whether a window of the class exists.
bool ClassInUse(const std::string& name);

// Windows.
HWND NewWindowHandle();
void AddWindow(std::shared_ptr<Window> window);
void RemoveWindow(HWND handle);
// The live window behind a handle, or null (ERROR_INVALID_WINDOW_HANDLE set).
std::shared_ptr<Window> LookupWindow(HWND handle);
// Top-level windows, newest (top) first.
std::vector<HWND> WindowsTopFirst();
// Live windows of one thread.
std::vector<std::shared_ptr<Window>> WindowsOfThread(DWORD threadId);

RECT ClientRectOf(const Window& window);  // origin 0, 0

}  // namespace win32::detail
