#include "platform/console/TerminalReader.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/console/InputBuffer.h"
#include "platform/console/LineInput.h"
#include "platform/console/TerminalDecoder.h"
#include "platform/console/TerminalDescription.h"
#include "platform/console/TerminalState.h"

namespace win32::detail {
namespace {

// DECXCPR, whose reply no key sends, then the plain query for terminals
// without it (TerminalDecoder.h).
constexpr char kCursorQuery[] = "\x1b[?6n\x1b[6n";
// The title query, then a cursor query: every terminal answers the second,
// and in order, so a cursor reply with no title before it says "no title
// will come".
constexpr char kTitleQuery[] = "\x1b[21t\x1b[?6n\x1b[6n";

// The reader thread's state. `decoder` is used by the reader under `lock`,
// and by a query (to say a reply is due) under the same lock. Terminals
// answer cursor queries in order, so replies are counted against the queries
// asked: the newest waits in `reply` with its number until its asker takes
// it, and a late one (its asker gave up) answers no later query.
struct ReaderState {
  std::mutex lock;
  std::condition_variable replyArrived;
  TerminalDecoder decoder;
  std::uint64_t cursorQueriesAsked = 0;
  std::uint64_t cursorRepliesRead = 0;
  std::optional<COORD> reply;
  bool titleAsked = false;
  std::optional<std::string> title;
  std::atomic<bool> running{false};
};

ReaderState& reader() {
  static auto* state = new ReaderState;  // the thread outlives static destructors
  return *state;
}

// Called with the reader's lock held, so that a discard of the input never
// falls between decoding bytes and queueing their records.
void deliverLocked(ReaderState& state, DecodedInput& decoded) {
  // A mouse move read alone merges with a queued one, as a console's do.
  if (decoded.records.size() == 1) {
    ProcessInputBuffer().appendMergingMove(decoded.records.front());
  } else if (!decoded.records.empty()) {
    ProcessInputBuffer().append(decoded.records.data(), decoded.records.size());
  }
  if (!decoded.titleReplies.empty()) {
    state.title = decoded.titleReplies.back();
    state.titleAsked = false;
  }
  if (!decoded.cursorReplies.empty()) {
    state.cursorRepliesRead += decoded.cursorReplies.size();
    state.reply = decoded.cursorReplies.back();
    state.replyArrived.notify_all();
    // The title would have come first: Alt+] is a key again.
    if (state.titleAsked) state.decoder.cancelTitleReply();
    state.titleAsked = false;
  }
}

bool readableNow(int fd) {
  pollfd readable{fd, POLLIN, 0};
  return ::poll(&readable, 1, 0) > 0;
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
    std::lock_guard lock(state.lock);
    if (ready == 0) {
      state.decoder.flush(decoded);
    } else {
      // Read under the lock, and only what is there now: a discard in the
      // meantime emptied the terminal, and the read must not then block.
      if (!readableNow(fd)) continue;
      const ssize_t n = ::read(fd, bytes, sizeof bytes);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;
      state.decoder.feed(bytes, static_cast<std::size_t>(n), decoded);
    }
    deliverLocked(state, decoded);
  }
  state.running.store(false);
}

// The keys of $TERM as terminfo has them, and the locale's characters. Without
// a description the built-in table (xterm's) is all there is.
void describeTerminal(TerminalDecoder& decoder) {
  decoder.setCharacterForm({LocaleIsUtf8(), false});
  if (std::optional<TerminalDescription> description = DescribeTerminal(std::getenv("TERM"))) {
    decoder.describe(std::move(*description));
  }
}

}  // namespace

void StartTerminalReader(int terminal) {
  static std::once_flag started;
  std::call_once(started, [terminal] {
    if (!TakeTerminal(terminal)) return;
    describeTerminal(reader().decoder);
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

void DiscardTerminalInput() {
  if (!TerminalReaderRunning()) {
    ProcessInputBuffer().clear();
    return;
  }
  ReaderState& state = reader();
  std::lock_guard lock(state.lock);
  ::tcflush(TakenTerminal(), TCIFLUSH);
  state.decoder.discardPending();
  ProcessInputBuffer().clear();
}

std::optional<COORD> QueryCursorPosition(int milliseconds) {
  if (!TerminalReaderRunning()) return std::nullopt;
  ReaderState& state = reader();
  std::unique_lock lock(state.lock);
  state.decoder.expectCursorReply();
  const std::uint64_t number = ++state.cursorQueriesAsked;
  WriteToTerminal(kCursorQuery, sizeof kCursorQuery - 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  const bool answered = state.replyArrived.wait_until(
      lock, deadline, [&] { return state.cursorRepliesRead >= number; });
  if (!answered || state.cursorRepliesRead != number) {
    return std::nullopt;  // a late reply is still taken out of the input
  }
  const COORD position = *state.reply;
  state.reply.reset();
  return position;
}

void AskTerminalTitle() {
  if (!TerminalReaderRunning()) return;
  ReaderState& state = reader();
  std::lock_guard lock(state.lock);
  state.titleAsked = true;
  state.decoder.expectTitleReply();
  state.decoder.expectCursorReply();
  ++state.cursorQueriesAsked;
  WriteToTerminal(kTitleQuery, sizeof kTitleQuery - 1);
}

std::optional<std::string> ReportedTerminalTitle() {
  ReaderState& state = reader();
  std::lock_guard lock(state.lock);
  return state.title;
}

}  // namespace win32::detail
