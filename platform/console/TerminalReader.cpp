#include "platform/console/TerminalReader.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/console/InputBuffer.h"
#include "platform/console/LineInput.h"
#include "platform/console/TerminalDecoder.h"
#include "platform/console/TerminalState.h"

namespace win32::detail {
namespace {

constexpr char kCursorQuery[] = "\x1b[6n";

// The reader thread's state. `decoder` is used by the reader under `lock`,
// and by a query (to say a reply is due) under the same lock; replies wait in
// `replies` until the asker takes them.
struct ReaderState {
  std::mutex lock;
  std::condition_variable replyArrived;
  TerminalDecoder decoder;
  std::deque<COORD> replies;
  std::atomic<bool> running{false};
};

ReaderState& reader() {
  static auto* state = new ReaderState;  // the thread outlives static destructors
  return *state;
}

void deliver(DecodedInput& decoded) {
  if (!decoded.records.empty()) {
    ProcessInputBuffer().append(decoded.records.data(), decoded.records.size());
  }
  if (!decoded.cursorReplies.empty()) {
    ReaderState& state = reader();
    {
      std::lock_guard lock(state.lock);
      state.replies.insert(state.replies.end(), decoded.cursorReplies.begin(),
                           decoded.cursorReplies.end());
    }
    state.replyArrived.notify_all();
  }
}

// Reads until the terminal goes away (end of file or an error other than an
// interruption): then the reader stops, it never spins.
void readTerminal(int fd) {
  ReaderState& state = reader();
  char bytes[512];
  while (true) {
    int timeout = -1;
    {
      std::lock_guard lock(state.lock);
      timeout = state.decoder.pendingTimeout();
    }
    pollfd readable{fd, POLLIN, 0};
    const int ready = ::poll(&readable, 1, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    DecodedInput decoded;
    if (ready == 0) {
      std::lock_guard lock(state.lock);
      state.decoder.flush(decoded);
    } else {
      const ssize_t n = ::read(fd, bytes, sizeof bytes);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;
      std::lock_guard lock(state.lock);
      state.decoder.feed(bytes, static_cast<std::size_t>(n), decoded);
    }
    deliver(decoded);
  }
  state.running.store(false);
}

}  // namespace

void StartTerminalReader(int terminal) {
  static std::once_flag started;
  std::call_once(started, [terminal] {
    if (!TakeTerminal(terminal)) return;
    const DWORD mode = CurrentInputMode();
    SetHostSettings((mode & ENABLE_PROCESSED_INPUT) != 0);
    SetMouseReporting((mode & ENABLE_MOUSE_INPUT) != 0);
    reader().running.store(true);
    std::thread(&readTerminal, TakenTerminal()).detach();
  });
}

bool TerminalReaderRunning() {
  return reader().running.load();
}

std::optional<COORD> QueryCursorPosition(int milliseconds) {
  if (!TerminalReaderRunning()) return std::nullopt;
  ReaderState& state = reader();
  std::unique_lock lock(state.lock);
  state.replies.clear();
  state.decoder.expectCursorReply();
  WriteToTerminal(kCursorQuery, sizeof kCursorQuery - 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (!state.replyArrived.wait_until(lock, deadline, [&] { return !state.replies.empty(); })) {
    return std::nullopt;  // a late reply is still taken out of the input
  }
  const COORD position = state.replies.back();
  state.replies.clear();
  return position;
}

}  // namespace win32::detail
