#include "platform/user/WindowTable.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/kernel/ErrorsInternal.h"

namespace win32::detail {

namespace {

// Window handles start above the console's pseudo handle and step by 2, so
// that a handle is never a small integer such as 1 (TRUE) by accident.
constexpr std::uintptr_t kConsoleWindowValue = 0x10010;
constexpr std::uintptr_t kFirstWindowValue = 0x10020;

struct Caseless {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) <
             std::tolower(static_cast<unsigned char>(y));
    });
  }
};

struct Tables {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<const WindowClass>, Caseless> classes;
  ATOM nextAtom = 0xC000;  // registered class atoms live in 0xC000-0xFFFF
  std::map<HWND, std::shared_ptr<Window>> windows;
  std::vector<HWND> zOrder;  // bottom first
  std::uintptr_t nextHandle = kFirstWindowValue;
};

Tables& tables() {
  static Tables* instance = new Tables;  // lives until the process ends
  return *instance;
}

}  // namespace

HWND ConsoleWindowHandle() {
  return reinterpret_cast<HWND>(kConsoleWindowValue);
}

std::mutex& WindowTableLock() {
  return tables().lock;
}

std::shared_ptr<const WindowClass> FindClass(const std::string& name) {
  std::lock_guard guard(tables().lock);
  auto found = tables().classes.find(name);
  return found == tables().classes.end() ? nullptr : found->second;
}

ATOM AddClass(const std::string& name, const WNDCLASSA& attributes) {
  std::lock_guard guard(tables().lock);
  auto& t = tables();
  if (t.classes.count(name) != 0 || t.nextAtom == 0) return 0;
  auto entry = std::make_shared<WindowClass>(WindowClass{name, attributes, t.nextAtom++});
  entry->attributes.lpszClassName = nullptr;  // the caller's string may go away
  entry->attributes.lpszMenuName = nullptr;
  t.classes.emplace(name, entry);
  return entry->atom;
}

bool RemoveClass(const std::string& name) {
  std::lock_guard guard(tables().lock);
  return tables().classes.erase(name) != 0;
}

bool ClassInUse(const std::string& name) {
  std::lock_guard guard(tables().lock);
  Caseless less;
  for (const auto& [handle, window] : tables().windows) {
    const std::string& other = window->windowClass->name;
    if (!less(name, other) && !less(other, name)) return true;
  }
  return false;
}

HWND NewWindowHandle() {
  std::lock_guard guard(tables().lock);
  HWND handle = reinterpret_cast<HWND>(tables().nextHandle);
  tables().nextHandle += 2;
  return handle;
}

void AddWindow(std::shared_ptr<Window> window) {
  std::lock_guard guard(tables().lock);
  tables().zOrder.push_back(window->handle);
  tables().windows.emplace(window->handle, std::move(window));
}

void RemoveWindow(HWND handle) {
  std::lock_guard guard(tables().lock);
  auto& t = tables();
  t.windows.erase(handle);
  t.zOrder.erase(std::remove(t.zOrder.begin(), t.zOrder.end(), handle), t.zOrder.end());
}

std::shared_ptr<Window> LookupWindow(HWND handle) {
  {
    std::lock_guard guard(tables().lock);
    auto found = tables().windows.find(handle);
    if (found != tables().windows.end() && !found->second->destroyed) return found->second;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return nullptr;
}

std::vector<HWND> WindowsTopFirst() {
  std::lock_guard guard(tables().lock);
  return {tables().zOrder.rbegin(), tables().zOrder.rend()};
}

std::vector<std::shared_ptr<Window>> WindowsOfThread(DWORD threadId) {
  std::lock_guard guard(tables().lock);
  std::vector<std::shared_ptr<Window>> result;
  for (HWND handle : tables().zOrder) {
    const auto& window = tables().windows.at(handle);
    if (window->threadId == threadId && !window->destroyed) result.push_back(window);
  }
  return result;
}

RECT ClientRectOf(const Window& window) {
  return {0, 0, window.client.right - window.client.left, window.client.bottom - window.client.top};
}

}  // namespace win32::detail
