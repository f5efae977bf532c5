#include "platform/console/InputBuffer.h"

#include <algorithm>

#include "platform/kernel/SyncInternal.h"

namespace win32::detail {
std::size_t InputBuffer::append(const INPUT_RECORD* records, std::size_t count) {
  std::size_t added = 0;
  {
    auto lock = LockWaitState();
    std::deque<INPUT_RECORD>& queue = records_;
    added = std::min(count, kCapacity - std::min(kCapacity, queue.size()));
    queue.insert(queue.end(), records, records + added);
  }
  if (added > 0) WakeWaiters();
  return added;
}

namespace {

bool isMouseMove(const INPUT_RECORD& record) {
  return record.EventType == MOUSE_EVENT && record.Event.MouseEvent.dwEventFlags == MOUSE_MOVED;
}

}  // namespace

std::size_t InputBuffer::appendMergingMove(const INPUT_RECORD& record) {
  {
    auto lock = LockWaitState();
    if (isMouseMove(record) && !records_.empty() && isMouseMove(records_.back())) {
      records_.back() = record;
      return 1;
    }
  }
  return append(&record, 1);
}

std::size_t InputBuffer::take(INPUT_RECORD* out, std::size_t length, bool remove, bool block) {
  auto lock = LockWaitState();
  std::deque<INPUT_RECORD>& queue = records_;
  while (block && length > 0 && queue.empty()) AwaitWaitStateChange(lock);
  const std::size_t n = std::min(length, queue.size());
  std::copy_n(queue.begin(), n, out);
  if (remove) queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

std::size_t InputBuffer::size() const {
  auto lock = LockWaitState();
  return records_.size();
}

void InputBuffer::clear() {
  auto lock = LockWaitState();
  records_.clear();
}

bool InputBuffer::signalledLocked() const {
  return !records_.empty();
}

InputBuffer& ProcessInputBuffer() {
  static auto* buffer = new InputBuffer;
  return *buffer;
}

}  // namespace win32::detail
