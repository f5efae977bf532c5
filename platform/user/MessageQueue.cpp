#include "platform/user/MessageQueue.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "platform/display/Display.h"
#include "platform/kernel/ThreadsInternal.h"

namespace win32::detail {

namespace {

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

struct Queues {
  std::mutex lock;
  std::map<DWORD, std::shared_ptr<MessageQueue>> byThread;
};

Queues& queues() {
  static Queues* instance = new Queues;  // lives until the process ends
  return *instance;
}

}  // namespace

bool MessageFilter::acceptsNumber(UINT message) const {
  if (first == 0 && last == 0) return true;
  return message >= first && message <= last;
}

bool MessageFilter::accepts(const MSG& message) const {
  if (!acceptsNumber(message.message)) return false;
  if (window == nullptr) return true;
  if (window == kThreadMessagesOnly) return message.hwnd == nullptr;
  return message.hwnd == window;
}

void MessageQueue::post(const MSG& message) {
  {
    std::lock_guard guard(lock_);
    messages_.push_back(message);
    changed();
  }
  WakeDisplayThread(threadId_);
}

void MessageQueue::postQuit(int exitCode) {
  {
    std::lock_guard guard(lock_);
    quitPosted_ = true;
    quitCode_ = exitCode;
    changed();
  }
  WakeDisplayThread(threadId_);
}

std::optional<MSG> MessageQueue::nextPosted(const MessageFilter& filter, bool remove) {
  std::lock_guard guard(lock_);
  auto found = std::find_if(messages_.begin(), messages_.end(),
                            [&](const MSG& m) { return filter.accepts(m); });
  if (found == messages_.end()) return std::nullopt;
  MSG message = *found;
  if (remove) messages_.erase(found);
  return message;
}

std::optional<MSG> MessageQueue::nextQuit(const MessageFilter& filter, bool remove) {
  std::lock_guard guard(lock_);
  if (!quitPosted_ || !filter.acceptsNumber(WM_QUIT)) return std::nullopt;
  if (remove) quitPosted_ = false;
  return MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, MessageTime(), {0, 0}};
}

void MessageQueue::discardWindow(HWND window) {
  std::lock_guard guard(lock_);
  std::erase_if(messages_, [&](const MSG& m) { return m.hwnd == window; });
}

std::uint64_t MessageQueue::generation() {
  std::lock_guard guard(lock_);
  return generation_;
}

void MessageQueue::waitForChange(std::uint64_t seen) {
  std::unique_lock guard(lock_);
  waiters_.wait(guard, [&] { return generation_ != seen; });
}

void MessageQueue::wake() {
  {
    std::lock_guard guard(lock_);
    changed();
  }
  WakeDisplayThread(threadId_);
}

void MessageQueue::changed() {
  ++generation_;
  waiters_.notify_all();
}

std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId) {
  std::lock_guard guard(queues().lock);
  auto& slot = queues().byThread[threadId];
  if (!slot) slot = std::make_shared<MessageQueue>(threadId);
  return slot;
}

std::shared_ptr<MessageQueue> ExistingQueueOfThread(DWORD threadId) {
  std::lock_guard guard(queues().lock);
  auto found = queues().byThread.find(threadId);
  return found == queues().byThread.end() ? nullptr : found->second;
}

namespace {

// The calling thread's queue. When the thread ends its queue leaves the
// table: thread ids are reused, and a new thread must not inherit old mail.
struct ThreadQueue {
  ThreadQueue() : queue(QueueOfThread(GetCurrentThreadId())) {}
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;
  ~ThreadQueue() {
    std::lock_guard guard(queues().lock);
    auto found = queues().byThread.find(queue->threadId());
    if (found != queues().byThread.end() && found->second == queue) queues().byThread.erase(found);
  }
  std::shared_ptr<MessageQueue> queue;
};

}  // namespace

MessageQueue& QueueOfCurrentThread() {
  thread_local ThreadQueue mine;
  return *mine.queue;
}

DWORD MessageTime() {
  using namespace std::chrono;
  return static_cast<DWORD>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace win32::detail
