// Turns the bytes a terminal sends into console input records: keys (a
// key-down record and, since terminals report no releases, its key-up right
// after), mouse reports in all three of xterm's forms, and the replies to the
// console host's own queries (cursor position, title), which never become
// records. It is fed bytes, so tests and the fuzzer drive it directly.
//
// The decoder knows the sequences xterm, tmux, urxvt, GNU screen and the Linux
// console send: a control sequence is gathered whole (at most 64 bytes,
// numbers of at most 9 digits) before it is looked up, and one it does not
// know is dropped whole, so no input can make it read beyond what it gathered.
// A sequence being dropped waits like any other: the reader's wait ends it,
// and the next key typed is a key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/console/Console.h"
#include "platform/console/TerminalDescription.h"
#include "platform/console/TerminalKeys.h"
#include "platform/console/TerminalMouse.h"

namespace win32::detail {

struct DecodedInput {
  std::vector<INPUT_RECORD> records;
  std::vector<COORD> cursorReplies;  // 0-based column (X) and row (Y)
  std::vector<std::string> titleReplies;
};

// How the terminal sends characters beyond ASCII: as UTF-8 or as single
// bytes; and whether Alt sets a character's eighth bit (xterm's default: Alt+a
// is U+00E1, sent as C3 A1 in UTF-8) instead of sending ESC first.
struct CharacterForm {
  bool utf8 = true;
  bool eightBitMeta = false;
};

class TerminalDecoder {
 public:
  void setCharacterForm(CharacterForm form) { form_ = form; }
  // The terminal's own description: sequences the built-in table does not
  // know, the byte its Backspace sends (BS is otherwise Ctrl+Backspace), and
  // whether its Alt sets the eighth bit.
  void describe(TerminalDescription description);

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

  // A cursor position query went out, as DECXCPR (ESC [ ? 6 n) and then the
  // plain form (ESC [ 6 n). A terminal that knows DECXCPR answers
  // ESC [ ? row ; col R first, and its plain reply is then known by being the
  // same place, and from then on a plain report is never a reply; one that
  // does not answers ESC [ row ; col R alone, taken as the reply though
  // Shift+F3 (ESC [ 1 ; 2 R) looks the same. A reply nobody asked for is
  // dropped (or, on row 1, is the key it looks like).
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
  bool idle() const { return pending_.empty() && state_ == State::Ground; }

 private:
  enum class State : std::uint8_t {
    Ground,
    Escape,
    Csi,
    Ss3,
    Utf8,
    Dropping,
    Osc,
    OscEscape,
    MouseBytes,    // ESC [ M: three bytes follow
    LinuxFunction  // ESC [ [: a letter follows
  };

  void step(unsigned char byte, DecodedInput& out);
  void ground(unsigned char byte, DecodedInput& out);
  void escapeByte(unsigned char byte, DecodedInput& out);
  bool cutShort(unsigned char byte, DecodedInput& out);
  void csiByte(unsigned char byte, DecodedInput& out);
  void ss3Byte(unsigned char byte, DecodedInput& out);
  void utf8Byte(unsigned char byte, DecodedInput& out);
  void droppingByte(unsigned char byte, DecodedInput& out);
  void oscByte(unsigned char byte, DecodedInput& out);
  void mouseByte(unsigned char byte, DecodedInput& out);
  void linuxFunctionByte(unsigned char byte, DecodedInput& out);
  bool startsC1Sequence(unsigned char byte);
  void beginUtf8(unsigned char lead);
  void eightBitCharacter(char32_t value, DecodedInput& out);
  void finishCharacter(char32_t value, DecodedInput& out);
  void finishKeyCsi(const std::uint32_t* numbers, std::size_t count, unsigned char final,
                    DecodedInput& out);
  void cursorReport(char marker, std::uint32_t row, std::uint32_t column, DecodedInput& out);
  void emitFirstEscape(DecodedInput& out);
  bool emitDescribedKey(char introducer, DecodedInput& out);
  bool emitUnendedDescribedKey(DecodedInput& out);
  void oscEscapeByte(unsigned char byte, DecodedInput& out);
  void finishOsc(DecodedInput& out);
  void finishCsi(DecodedInput& out);
  void emitMouse(const MouseReport& report, DecodedInput& out);
  void emitCursorReply(std::uint32_t row, std::uint32_t column, DecodedInput& out);
  void emitKey(const TerminalKey& key, DecodedInput& out);
  void emitPendingAsTyped(DecodedInput& out);
  void finish();  // the pending bytes are used up

  State state_ = State::Ground;
  CharacterForm form_;
  std::vector<DescribedKey> describedKeys_;
  unsigned char backspace_ = 0x7F;
  std::string pending_;  // the bytes of the key or sequence not yet complete
  // Where the body of the sequence under way starts in `pending_` (after
  // ESC [, after 9B, ...), and the modifiers an ESC before it gave (Alt).
  std::size_t bodyStart_ = 0;
  int prefixModifiers_ = 0;
  char32_t utf8Value_ = 0;
  int utf8Remaining_ = 0;  // continuation bytes still due
  std::size_t consumed_ = 0;
  int repliesExpected_ = 0;
  // The terminal answers DECXCPR: a plain report is never the reply. The
  // place a DECXCPR reply gave, while its plain reply is still due.
  bool knowsPrivateReply_ = false;
  bool plainReplyDue_ = false;
  std::uint32_t dueRow_ = 0;
  std::uint32_t dueColumn_ = 0;
  bool titleExpected_ = false;
  bool oscTooLong_ = false;  // the reply being gathered outgrew its limit
  MouseReports mouse_;
};

}  // namespace win32::detail
