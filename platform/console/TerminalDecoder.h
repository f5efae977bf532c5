// Turns the bytes a terminal sends into console input records: keys (a
// key-down record and, since terminals report no releases, its key-up right
// after), xterm SGR mouse reports, and the replies to the console host's own
// queries (cursor position), which never become records. libtermkey does the
// decoding; it is fed bytes, so tests and the fuzzer drive it directly.
#pragma once

#include <termkey.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/console/Console.h"

namespace win32::detail {

struct DecodedInput {
  std::vector<INPUT_RECORD> records;
  std::vector<COORD> cursorReplies;  // 0-based column (X) and row (Y)
};

class TerminalDecoder {
 public:
  TerminalDecoder();
  ~TerminalDecoder();
  TerminalDecoder(const TerminalDecoder&) = delete;
  TerminalDecoder& operator=(const TerminalDecoder&) = delete;

  // Takes every byte. What ends a sequence comes out now; a sequence that may
  // still go on waits for more bytes or for `flush`.
  void feed(const char* bytes, std::size_t length, DecodedInput& out);
  // Milliseconds after which waiting input is to be taken as it stands (a
  // lone ESC is the Esc key), or -1 while nothing waits.
  int pendingTimeout() const;
  void flush(DecodedInput& out);

  // A cursor position query went out: its reply, ESC [ row ; col R, is taken
  // out of the input. (libtermkey reads those bytes as F3 with modifiers and
  // drops the row, so they are recognised before it sees them.)
  void expectCursorReply();

  // Bytes taken by libtermkey or as replies so far, and bytes still waiting
  // inside; every fed byte is one or the other.
  std::size_t bytesConsumed() const { return consumed_; }
  std::size_t bytesWaiting() const;

 private:
  enum class SequenceState { Ground, Escape, Csi, Dropping };
  struct Sequence {
    SequenceState state = SequenceState::Ground;
    std::string bytes;     // ESC [ and what followed, not yet passed on
    bool dropped = false;  // intermediate bytes or too long a number
    int digits = 0;        // of the number being read
  };

  void gate(char byte, std::string& plain, DecodedInput& out);
  void escapeByte(char byte, std::string& plain);
  void csiByte(char byte, std::string& plain, DecodedInput& out);
  void finishSequence(std::string& plain, DecodedInput& out);
  void endSequence(std::string& plain, bool pass);
  bool isStrayControl(unsigned char b);
  void push(const char* bytes, std::size_t length, DecodedInput& out);
  void drain(DecodedInput& out, bool force);
  void emit(const TermKeyKey& key, DecodedInput& out);
  void emitMouse(const TermKeyKey& key, DecodedInput& out);

  TermKey* termkey_;
  std::size_t consumed_ = 0;
  int repliesExpected_ = 0;
  Sequence sequence_;       // a control sequence being gathered
  int utf8Remaining_ = 0;   // continuation bytes due in the current character
  DWORD mouseButtons_ = 0;  // buttons down, as the reports have told
};

}  // namespace win32::detail
