// Per-thread message queues: posted and input messages in arrival order and
// the quit flag of PostQuitMessage. WM_PAINT is not queued: the window
// manager makes it when the queue holds nothing else for the caller.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/kernel/WinTypes.h"
#include "platform/user/User.h"

namespace win32::detail {

// The window and message-number filter of GetMessageA and PeekMessageA.
struct MessageFilter {
  HWND window = nullptr;  // null: any; (HWND)-1: thread messages only
  UINT first = 0;         // 0, 0: every message number
  UINT last = 0;

  bool acceptsNumber(UINT message) const;
  bool accepts(const MSG& message) const;
};

class MessageQueue {
 public:
  explicit MessageQueue(DWORD threadId) : threadId_(threadId) {}
  DWORD threadId() const { return threadId_; }

  void post(const MSG& message);
  void postQuit(int exitCode);
  // The oldest message that passes the filter, removed if asked.
  std::optional<MSG> nextPosted(const MessageFilter& filter, bool remove);
  // WM_QUIT from PostQuitMessage, cleared if removed.
  std::optional<MSG> nextQuit(const MessageFilter& filter, bool remove);
  void discardWindow(HWND window);

  // Changes on every post and wake; a waiter compares it with the value it
  // saw before looking at the queue, so no wake-up is lost in between.
  std::uint64_t generation();
  void waitForChange(std::uint64_t seen);
  // Wakes the owner: through the condition variable, and through the display
  // when the owner waits there.
  void wake();

 private:
  void changed();  // under lock_

  const DWORD threadId_;
  std::mutex lock_;
  std::condition_variable waiters_;
  std::deque<MSG> messages_;
  bool quitPosted_ = false;
  int quitCode_ = 0;
  std::uint64_t generation_ = 0;
};

// The queue of a thread, made on first use.
std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId);
// The queue of a thread if it has one, else null (makes none).
std::shared_ptr<MessageQueue> ExistingQueueOfThread(DWORD threadId);
MessageQueue& QueueOfCurrentThread();

// Posts a message made from a display report to the window's thread; drops
// it when the window is gone. Mouse messages also move MSG::pt.
void PostDisplayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Milliseconds since an arbitrary start, wrapping: MSG::time.
DWORD MessageTime();

}  // namespace win32::detail
