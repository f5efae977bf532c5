// Turns the bytes a terminal sends into console input records: keys (a
// key-down record and, since terminals report no releases, its key-up right
// after), xterm SGR mouse reports, and the replies to the console host's own
// queries (cursor position), which never become records. It is fed bytes, so
// tests and the fuzzer drive it directly.
//
// The decoder knows the sequences xterm and tmux send and nothing else: a
// control sequence is gathered whole (at most 64 bytes, numbers of at most 9
// digits) before it is looked up, and one it does not know is dropped whole,
// so no input can make it read beyond what it gathered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/console/Console.h"
#include "platform/console/TerminalKeys.h"

namespace win32::detail {

struct DecodedInput {
  std::vector<INPUT_RECORD> records;
  std::vector<COORD> cursorReplies;  // 0-based column (X) and row (Y)
  std::vector<std::string> titleReplies;
};

class TerminalDecoder {
 public:
  // Takes every byte. What ends a sequence comes out now; a sequence that may
  // still go on waits for more bytes or for `flush`.
  void feed(const char* bytes, std::size_t length, DecodedInput& out);
  // Milliseconds after which waiting input is to be taken as it stands (a
  // lone ESC is the Esc key), or -1 while nothing waits.
  int pendingTimeout() const;
  void flush(DecodedInput& out);
  // Drops what waits without decoding it; the replies awaited and the mouse
  // buttons held stay known.
  void discardPending();

  // A cursor position query went out: its reply, ESC [ row ; col R, is taken
  // out of the input even though Shift+F3 looks the same.
  void expectCursorReply();
  // A title query (ESC [ 21 t) went out: its reply, ESC ] l title ST, is
  // taken out of the input; the next ESC ] is read as one even if the user
  // typed it (Alt+]), until `cancelTitleReply`.
  void expectTitleReply();
  void cancelTitleReply();

  // Bytes taken as keys, reports, replies or dropped so far, and bytes still
  // waiting inside; every fed byte is one or the other.
  std::size_t bytesConsumed() const { return consumed_; }
  std::size_t bytesWaiting() const { return pending_.size(); }
  // Nothing waits and no sequence is under way.
  bool idle() const {
    return pending_.empty() && state_ != State::Osc && state_ != State::OscEscape;
  }

 private:
  enum class State : std::uint8_t { Ground, Escape, Csi, Ss3, Utf8, Dropping, Osc, OscEscape };

  void step(unsigned char byte, DecodedInput& out);
  void ground(unsigned char byte, DecodedInput& out);
  void escapeByte(unsigned char byte, DecodedInput& out);
  void csiByte(unsigned char byte, DecodedInput& out);
  void ss3Byte(unsigned char byte, DecodedInput& out);
  void utf8Byte(unsigned char byte, DecodedInput& out);
  void droppingByte(unsigned char byte, DecodedInput& out);
  void oscByte(unsigned char byte, DecodedInput& out);
  void oscEscapeByte(unsigned char byte, DecodedInput& out);
  void finishOsc(DecodedInput& out);
  void finishCsi(DecodedInput& out);
  void emitMouse(const std::uint32_t* numbers, bool released, DecodedInput& out);
  void emitCursorReply(std::uint32_t row, std::uint32_t column, DecodedInput& out);
  void emitKey(const TerminalKey& key, DecodedInput& out);
  void emitPendingAsTyped(DecodedInput& out);
  void finish();  // the pending bytes are used up

  State state_ = State::Ground;
  std::string pending_;  // the bytes of the key or sequence not yet complete
  char32_t utf8Value_ = 0;
  int utf8Remaining_ = 0;  // continuation bytes still due
  std::size_t consumed_ = 0;
  int repliesExpected_ = 0;
  bool titleExpected_ = false;
  bool oscTooLong_ = false;  // the reply being gathered outgrew its limit
  DWORD mouseButtons_ = 0;   // buttons down, as the reports have told
};

}  // namespace win32::detail
