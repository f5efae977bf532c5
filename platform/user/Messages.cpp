// Message retrieval, posting, sending and dispatching.
#include <atomic>

#include "platform/display/Display.h"
#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ThreadsInternal.h"
#include "platform/user/MessageQueue.h"
#include "platform/user/Painting.h"
#include "platform/user/User.h"
#include "platform/user/WindowTable.h"

namespace win32 {

namespace {

constexpr DWORD kErrorInvalidThreadId = 1444;  // ERROR_INVALID_THREAD_ID
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

// The last pointer position the display reported, in screen coordinates
// (MSG::pt).
std::atomic<std::int64_t> lastCursor{0};

POINT CursorPosition() {
  const std::int64_t packed = lastCursor.load(std::memory_order_relaxed);
  return {static_cast<LONG>(packed >> 32), static_cast<LONG>(packed & 0xFFFFFFFF)};
}

void RememberCursor(const detail::Window& window, LPARAM lParam) {
  const LONG x = window.client.left + static_cast<SHORT>(lParam & 0xFFFF);
  const LONG y = window.client.top + static_cast<SHORT>((lParam >> 16) & 0xFFFF);
  lastCursor.store((static_cast<std::int64_t>(x) << 32) | static_cast<std::uint32_t>(y),
                   std::memory_order_relaxed);
}

bool IsMouseMessage(UINT message) {
  return message >= WM_MOUSEMOVE && message <= WM_MBUTTONDBLCLK;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return MSG{window, message, wParam, lParam, detail::MessageTime(), CursorPosition()};
}

// The next message for the calling thread: posted and input messages first,
// then the quit flag, then WM_PAINT.
std::optional<MSG> NextMessage(const detail::MessageFilter& filter, bool remove) {
  auto& queue = detail::QueueOfCurrentThread();
  if (auto message = queue.nextPosted(filter, remove)) return message;
  if (auto message = queue.nextQuit(filter, remove)) return message;
  return detail::NextPaintMessage(filter);
}

// The display this thread must wait through, if any.
detail::Display* DisplayForThisThread() {
  detail::Display* display = detail::DisplayInUse();
  return display != nullptr && display->waitsForThread() ? display : nullptr;
}

bool FilterWindowValid(HWND window) {
  return window == nullptr || window == kThreadMessagesOnly || IsWindow(window);
}

// The character a key-down makes, for TranslateMessage (US layout).
char CharacterOf(WPARAM virtualKey, bool shift) {
  static constexpr char kShiftedDigits[] = ")!@#$%^&*(";
  if (virtualKey >= 'A' && virtualKey <= 'Z') {
    return static_cast<char>(shift ? virtualKey : virtualKey - 'A' + 'a');
  }
  if (virtualKey >= '0' && virtualKey <= '9') {
    return shift ? kShiftedDigits[virtualKey - '0'] : static_cast<char>(virtualKey);
  }
  if (virtualKey >= 0x60 && virtualKey <= 0x69) return static_cast<char>('0' + virtualKey - 0x60);
  switch (virtualKey) {
    case VK_SPACE:
      return ' ';
    case VK_RETURN:
      return '\r';
    case VK_BACK:
      return '\b';
    case VK_TAB:
      return '\t';
    case VK_ESCAPE:
      return '\x1b';
    default:
      return '\0';
  }
}

}  // namespace

namespace detail {

void PostDisplayMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = LookupWindow(handle);
  if (!window) return;
  if (IsMouseMessage(message)) RememberCursor(*window, lParam);
  QueueOfThread(window->threadId)->post(MakeMessage(handle, message, wParam, lParam));
}

}  // namespace detail

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!FilterWindowValid(window)) return -1;
  const detail::MessageFilter filter{window, filterMin, filterMax};
  auto& queue = detail::QueueOfCurrentThread();
  for (;;) {
    const std::uint64_t seen = queue.generation();
    detail::Display* display = DisplayForThisThread();
    if (display != nullptr) display->pumpEvents();
    if (auto message = NextMessage(filter, true)) {
      *msg = *message;
      return message->message == WM_QUIT ? FALSE : TRUE;
    }
    if (display != nullptr) {
      display->waitEvents();
    } else {
      queue.waitForChange(seen);
    }
  }
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (msg == nullptr || !FilterWindowValid(window)) return FALSE;
  if (detail::Display* display = DisplayForThisThread()) display->pumpEvents();
  auto message = NextMessage({window, filterMin, filterMax}, (removeFlags & PM_REMOVE) != 0);
  if (!message) return FALSE;
  *msg = *message;
  return TRUE;
}

BOOL TranslateMessage(const MSG* msg) {
  thread_local bool shiftDown = false;
  if (msg == nullptr) return FALSE;
  const bool down = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
  const bool up = msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP;
  if (!down && !up) return FALSE;
  if (msg->wParam == VK_SHIFT) shiftDown = down;
  if (!down) return TRUE;
  const char character = CharacterOf(msg->wParam, shiftDown);
  if (character == '\0') return TRUE;
  const UINT charMessage = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
  detail::QueueOfCurrentThread().post(
      MakeMessage(msg->hwnd, charMessage, static_cast<unsigned char>(character), msg->lParam));
  return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  if (handle == nullptr) return PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam);
  auto window = detail::LookupWindow(handle);
  if (!window) return FALSE;
  detail::QueueOfThread(window->threadId)->post(MakeMessage(handle, message, wParam, lParam));
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  if (threadId == 0) {
    SetLastError(kErrorInvalidThreadId);
    return FALSE;
  }
  detail::QueueOfThread(threadId)->post(MakeMessage(nullptr, message, wParam, lParam));
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  detail::QueueOfCurrentThread().postQuit(exitCode);
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = detail::LookupWindow(handle);
  if (!window) return 0;
  if (window->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return window->windowClass->attributes.lpfnWndProc(handle, message, wParam, lParam);
}

}  // namespace win32
