#include "platform/console/TerminalDecoder.h"

#include <array>
#include <span>

namespace win32::detail {
namespace {

constexpr unsigned char kEsc = 0x1B;
// The 8-bit forms of ESC [ and ESC O, sent as bytes or as UTF-8 (C2 9B).
constexpr unsigned char kC1Csi = 0x9B;
constexpr unsigned char kC1Ss3 = 0x8F;
// How long a lone ESC (or any unfinished sequence) waits for the rest before
// it is taken as it stands, the Esc key alone. xterm, urxvt, tmux and GNU
// screen each sent every key's sequence in one write, read whole. A sequence
// is cut only where a burst is (mouse drags, or packets over ssh), and its
// rest comes with the same burst: 40000 drag reports written to a
// pseudo-terminal in bursts and read 512 bytes at a time were cut 718 times,
// the rest coming after 0.02 ms (median) and 4 ms at most on a loaded
// machine. A piece lost on the network waits for its retransmission (200 ms
// and more), which no wait short enough for the Esc key can cover. So the
// wait is ten times the worst seen, and a lone Esc costs 50 ms.
constexpr int kEscapeWaitMilliseconds = 50;
constexpr std::size_t kLongestSequence = 64;
// Terminals send numbers of at most 7 digits (a Unicode character); 9 digits
// always fit in 32 bits.
constexpr int kLongestNumber = 9;
constexpr std::size_t kMostNumbers = kLongestSequence / 2;
constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr unsigned char kBel = 0x07;
// Titles longer than this are not taken from the terminal.
constexpr std::size_t kLongestTitleReply = 1024;
constexpr char kTitleReplyStart[] = "\x1b]l";

// urxvt's and the X10/normal form add 32 to the button code; the X10 form
// also to the column and row.
constexpr std::uint32_t kMouseOffset = 32;
constexpr std::uint32_t kLastX10Cell = 255 - kMouseOffset;
// The Linux console's F1-F5: ESC [ [ A to E.
constexpr unsigned char kLinuxLastFunction = 'E';
// ESC O 2 P: the modifier number has at most two digits.
constexpr std::size_t kLongestSs3Modifier = 2;

INPUT_RECORD keyEvent(const KEY_EVENT_RECORD& key, bool down) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent = key;
  record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  return record;
}

SHORT cellIndex(std::uint32_t oneBased, std::uint32_t largest) {
  if (oneBased < 1) return 0;
  return static_cast<SHORT>((oneBased > largest ? largest : oneBased) - 1);
}

TerminalKey typedCharacter(unsigned char byte, int modifiers) {
  TerminalKey key = byte < 0x20 || byte == 0x7F ? KeyForControl(byte) : TerminalKey{};
  if (key.kind == TerminalKey::Kind::Character && byte >= 0x20 && byte != 0x7F) {
    key.character = byte;
  }
  key.modifiers |= modifiers;
  return key;
}

// A character that is no UTF-8: it types U+FFFD, which no key has.
TerminalKey badCharacter() {
  TerminalKey key;
  key.character = kReplacementCharacter;
  return key;
}

// The numbers of a gathered sequence's body (between ESC [ and its private
// marker, and the final byte): decimal, split by ';', a missing one is 0.
// False for anything else in the body (intermediate bytes, ':' subfields,
// a second marker) or too long a number: no key sends those.
struct Numbers {
  std::array<std::uint32_t, kMostNumbers> values{};
  std::size_t count = 0;
};

bool parseNumbers(std::string_view body, Numbers& numbers) {
  if (body.empty()) return true;
  std::uint32_t value = 0;
  int digits = 0;
  for (const char c : body) {
    if (c >= '0' && c <= '9') {
      if (++digits > kLongestNumber) return false;
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
    } else if (c == ';' && numbers.count + 1 < kMostNumbers) {
      numbers.values[numbers.count++] = value;
      value = 0;
      digits = 0;
    } else {
      return false;
    }
  }
  numbers.values[numbers.count++] = value;
  return true;
}

bool isPrivateMarker(char c) {
  return c == '<' || c == '=' || c == '>' || c == '?';
}

bool allDigits(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

int utf8ContinuationBytes(unsigned char lead) {
  return lead >= 0xC2 && lead <= 0xDF   ? 1
         : lead >= 0xE0 && lead <= 0xEF ? 2
         : lead >= 0xF0 && lead <= 0xF4 ? 3
                                        : 0;
}

}  // namespace

void TerminalDecoder::describe(TerminalDescription description) {
  describedKeys_ = std::move(description.keys);
  backspace_ = description.backspace;
  form_.eightBitMeta = description.eightBitMeta;
}

// A sequence the built-in table does not know, looked up in the terminal's
// description (in its ESC [ or ESC O form); dropped when that does not know it
// either.
bool TerminalDecoder::emitDescribedKey(char introducer, DecodedInput& out) {
  std::string sequence = "\x1b";
  sequence += introducer;
  sequence.append(pending_, bodyStart_);
  for (const DescribedKey& row : describedKeys_) {
    if (row.bytes != sequence) continue;
    TerminalKey key = row.key;
    key.modifiers |= prefixModifiers_;
    emitKey(key, out);
    return true;
  }
  return false;
}

void TerminalDecoder::expectCursorReply() {
  ++repliesExpected_;
}

void TerminalDecoder::expectTitleReply() {
  titleExpected_ = true;
}

void TerminalDecoder::cancelTitleReply() {
  titleExpected_ = false;
}

int TerminalDecoder::pendingTimeout() const {
  return idle() ? -1 : kEscapeWaitMilliseconds;
}

void TerminalDecoder::feed(const char* bytes, std::size_t length, DecodedInput& out) {
  for (std::size_t i = 0; i < length; ++i) step(static_cast<unsigned char>(bytes[i]), out);
}

void TerminalDecoder::step(unsigned char byte, DecodedInput& out) {
  switch (state_) {
    case State::Ground:
      ground(byte, out);
      return;
    case State::Escape:
      escapeByte(byte, out);
      return;
    case State::Csi:
      csiByte(byte, out);
      return;
    case State::Ss3:
      ss3Byte(byte, out);
      return;
    case State::Utf8:
      utf8Byte(byte, out);
      return;
    case State::Dropping:
      droppingByte(byte, out);
      return;
    case State::Osc:
      oscByte(byte, out);
      return;
    case State::OscEscape:
      oscEscapeByte(byte, out);
      return;
    case State::MouseBytes:
      mouseByte(byte, out);
      return;
    case State::LinuxFunction:
      linuxFunctionByte(byte, out);
      return;
  }
}

void TerminalDecoder::finish() {
  consumed_ += pending_.size();
  pending_.clear();
  state_ = State::Ground;
  bodyStart_ = 0;
  prefixModifiers_ = 0;
}

void TerminalDecoder::ground(unsigned char byte, DecodedInput& out) {
  pending_ += static_cast<char>(byte);
  if (byte == kEsc) {
    state_ = State::Escape;
    return;
  }
  if (byte < 0x80) {
    emitKey(byte == backspace_ ? KeyOfSymbol(KeySymbol::Backspace) : typedCharacter(byte, 0), out);
    finish();
    return;
  }
  if (startsC1Sequence(byte)) return;
  if (!form_.utf8) {
    eightBitCharacter(byte, out);
    finish();
    return;
  }
  // UTF-8: a lead byte says how many continuation bytes follow. Another stray
  // continuation byte is dropped; a byte no UTF-8 text holds is a bad
  // character.
  if (utf8ContinuationBytes(byte) > 0) {
    beginUtf8(byte);
    return;
  }
  if (byte >= 0xC0) emitKey(badCharacter(), out);
  finish();
}

// Terminals in 8-bit mode send CSI and SS3 as one byte, also in UTF-8.
bool TerminalDecoder::startsC1Sequence(unsigned char byte) {
  if (byte != kC1Csi && byte != kC1Ss3) return false;
  state_ = byte == kC1Csi ? State::Csi : State::Ss3;
  bodyStart_ = pending_.size();
  return true;
}

void TerminalDecoder::beginUtf8(unsigned char lead) {
  utf8Remaining_ = utf8ContinuationBytes(lead);
  utf8Value_ = lead & (0x3F >> utf8Remaining_);
  state_ = State::Utf8;
}

// A character from 0x80 to 0xFF: with an eighth-bit meta key it is Alt and the
// character without that bit.
void TerminalDecoder::eightBitCharacter(char32_t value, DecodedInput& out) {
  if (form_.eightBitMeta) {
    emitKey(typedCharacter(static_cast<unsigned char>(value - 0x80), kModAlt), out);
    return;
  }
  TerminalKey key;
  key.character = value;
  key.modifiers = prefixModifiers_;
  emitKey(key, out);
}

// ESC and a character (or a UTF-8 character) is that character with Alt; ESC
// and a sequence is its key with Alt (rxvt's ESC ESC [ A); ESC and Tab is the
// Linux console's Shift+Tab. ESC ESC and anything else is the Esc key and a
// new ESC.
void TerminalDecoder::escapeByte(unsigned char byte, DecodedInput& out) {
  if (byte == ']' && titleExpected_ && prefixModifiers_ == 0) {
    pending_ += static_cast<char>(byte);
    titleExpected_ = false;
    oscTooLong_ = false;
    state_ = State::Osc;
    return;
  }
  if (byte == '[' || byte == 'O') {
    pending_ += static_cast<char>(byte);
    bodyStart_ = pending_.size();
    state_ = byte == '[' ? State::Csi : State::Ss3;
    return;
  }
  if (byte == kEsc && prefixModifiers_ == 0) {
    pending_ += static_cast<char>(byte);
    prefixModifiers_ = kModAlt;
    return;
  }
  if (prefixModifiers_ != 0) {
    emitFirstEscape(out);
    escapeByte(byte, out);
    return;
  }
  if (byte >= 0x80 && form_.utf8 && utf8ContinuationBytes(byte) > 0) {
    pending_ += static_cast<char>(byte);
    prefixModifiers_ = kModAlt;
    beginUtf8(byte);
    return;
  }
  if (byte >= 0x80) {
    emitKey(KeyForControl(kEsc), out);
    finish();
    step(byte, out);
    return;
  }
  emitKey(byte == '\t' ? KeyOfSymbol(KeySymbol::Tab, kModShift) : typedCharacter(byte, kModAlt),
          out);
  pending_ += static_cast<char>(byte);
  finish();
}

// ESC ESC followed by no sequence: the first ESC was the Esc key.
void TerminalDecoder::emitFirstEscape(DecodedInput& out) {
  emitKey(KeyForControl(kEsc), out);
  pending_.erase(0, 1);
  ++consumed_;
  if (bodyStart_ > 0) --bodyStart_;
  prefixModifiers_ = 0;
}

// A byte that cannot be part of a sequence ends it unfinished: what was
// gathered is dropped and the byte read on its own.
bool TerminalDecoder::cutShort(unsigned char byte, DecodedInput& out) {
  if (byte >= 0x20 && byte <= 0x7E) return false;
  finish();
  step(byte, out);
  return true;
}

void TerminalDecoder::csiByte(unsigned char byte, DecodedInput& out) {
  if (cutShort(byte, out)) return;
  pending_ += static_cast<char>(byte);
  const std::string_view body = std::string_view(pending_).substr(bodyStart_);
  if (body == "M") {  // the X10/normal mouse form: three bytes of any value follow
    state_ = State::MouseBytes;
    return;
  }
  if (body == "[") {
    state_ = State::LinuxFunction;
    return;
  }
  // rxvt's Shift form ends with $, which is no final byte elsewhere.
  if (byte >= 0x40 || (byte == '$' && allDigits(body.substr(0, body.size() - 1)))) {
    finishCsi(out);
    return;
  }
  if (pending_.size() > kLongestSequence) {  // no terminal sends these: dropped to its end
    consumed_ += pending_.size();
    pending_.clear();
    state_ = State::Dropping;
  }
}

// The rest of a sequence too long to be any terminal's, up to its final byte
// or the reader's wait, whichever comes first.
void TerminalDecoder::droppingByte(unsigned char byte, DecodedInput& out) {
  if (cutShort(byte, out)) return;
  ++consumed_;
  if (byte >= 0x40) finish();
}

void TerminalDecoder::mouseByte(unsigned char byte, DecodedInput& out) {
  pending_ += static_cast<char>(byte);
  if (pending_.size() < bodyStart_ + 4) return;
  auto value = [this](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(pending_[bodyStart_ + at]));
  };
  // A byte below the offset names no button; a cell past what a byte can
  // carry comes as 0 from some terminals and is taken as the last one named.
  auto cellOf = [](std::uint32_t byte) {
    return byte > kMouseOffset ? byte - kMouseOffset : kLastX10Cell;
  };
  if (value(1) >= kMouseOffset) {
    emitMouse({value(1) - kMouseOffset, cellOf(value(2)), cellOf(value(3)), false, false}, out);
  }
  finish();
}

void TerminalDecoder::linuxFunctionByte(unsigned char byte, DecodedInput& out) {
  if (cutShort(byte, out)) return;
  pending_ += static_cast<char>(byte);
  if (byte >= 'A' && byte <= kLinuxLastFunction) {
    emitKey(FunctionKey(byte - 'A' + 1, prefixModifiers_), out);
  }
  finish();
}

// ESC O, a modifier number and a final byte is a key; anything else after
// ESC O means the bytes were typed (ESC O as Alt+O).
void TerminalDecoder::ss3Byte(unsigned char byte, DecodedInput& out) {
  const std::size_t digits = pending_.size() - bodyStart_;
  if (byte >= '0' && byte <= '9' && digits < kLongestSs3Modifier) {
    pending_ += static_cast<char>(byte);
    return;
  }
  if (byte >= 0x40 && byte <= 0x7E) {
    std::uint32_t modifier = 0;
    for (std::size_t i = bodyStart_; i < pending_.size(); ++i) {
      modifier = modifier * 10 + static_cast<std::uint32_t>(pending_[i] - '0');
    }
    pending_ += static_cast<char>(byte);
    if (auto key = KeyForSs3(byte, modifier)) {
      key->modifiers |= prefixModifiers_;
      emitKey(*key, out);
    } else {
      emitDescribedKey('O', out);
    }
    finish();
    return;
  }
  emitPendingAsTyped(out);
  finish();
  step(byte, out);
}

void TerminalDecoder::utf8Byte(unsigned char byte, DecodedInput& out) {
  if (byte < 0x80 || byte > 0xBF) {  // the character ends unfinished
    emitKey(badCharacter(), out);
    finish();
    step(byte, out);
    return;
  }
  pending_ += static_cast<char>(byte);
  utf8Value_ = (utf8Value_ << 6) | (byte & 0x3F);
  if (--utf8Remaining_ > 0) return;
  // Overlong forms, surrogates and values beyond Unicode are bad characters.
  const std::size_t length = pending_.size() - (prefixModifiers_ != 0 ? 1 : 0);
  const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  const bool bad = utf8Value_ < smallest || utf8Value_ > 0x10FFFF ||
                   (utf8Value_ >= 0xD800 && utf8Value_ <= 0xDFFF);
  finishCharacter(bad ? kReplacementCharacter : utf8Value_, out);
}

// A whole UTF-8 character: CSI and SS3 sent as UTF-8 start their sequences,
// the other characters up to 0xFF may carry an eighth-bit Alt.
void TerminalDecoder::finishCharacter(char32_t value, DecodedInput& out) {
  if (prefixModifiers_ == 0 && value <= 0xFF &&
      startsC1Sequence(static_cast<unsigned char>(value))) {
    return;
  }
  if (value >= 0x80 && value <= 0xFF) {
    eightBitCharacter(value, out);
  } else {
    TerminalKey key;
    key.character = value;
    key.modifiers = prefixModifiers_;
    emitKey(key, out);
  }
  finish();
}

// An operating system command, ESC ] ... ended by BEL or ESC \\ (ST). Only
// the title reply is one the host asks for; a control byte other than those
// ends it unfinished, and it is dropped.
void TerminalDecoder::oscByte(unsigned char byte, DecodedInput& out) {
  if (byte == kBel) {
    pending_ += static_cast<char>(byte);
    finishOsc(out);
    return;
  }
  if (byte == kEsc) {
    pending_ += static_cast<char>(byte);
    state_ = State::OscEscape;
    return;
  }
  if (byte < 0x20 || byte == 0x7F) {
    finish();
    step(byte, out);
    return;
  }
  pending_ += static_cast<char>(byte);
  if (pending_.size() > kLongestTitleReply) {  // kept count of, not kept
    consumed_ += pending_.size();
    pending_.clear();
    oscTooLong_ = true;
  }
}

// After ESC inside the command: a backslash ends it; anything else means it
// was cut short, and the ESC starts what comes next.
void TerminalDecoder::oscEscapeByte(unsigned char byte, DecodedInput& out) {
  if (byte == '\\') {
    pending_ += static_cast<char>(byte);
    finishOsc(out);
    return;
  }
  pending_.pop_back();
  finish();
  step(kEsc, out);
  step(byte, out);
}

void TerminalDecoder::finishOsc(DecodedInput& out) {
  const std::string_view whole(pending_);
  const std::size_t terminator = whole.back() == kBel ? 1 : 2;
  const std::string_view start(kTitleReplyStart);
  if (!oscTooLong_ && whole.substr(0, start.size()) == start) {
    out.titleReplies.emplace_back(
        whole.substr(start.size(), whole.size() - start.size() - terminator));
  }
  finish();
}

void TerminalDecoder::finishCsi(DecodedInput& out) {
  const std::string_view whole(pending_);
  std::string_view body = whole.substr(bodyStart_, whole.size() - bodyStart_ - 1);
  const auto final = static_cast<unsigned char>(whole.back());
  char marker = 0;
  if (!body.empty() && isPrivateMarker(body.front())) {
    marker = body.front();
    body.remove_prefix(1);
  }
  Numbers numbers;
  if (parseNumbers(body, numbers)) {
    const std::uint32_t* values = numbers.values.data();
    const bool mouse = numbers.count == 3 && (final == 'M' || final == 'm');
    if (marker == '<' && mouse) {
      emitMouse({values[0], values[1], values[2], final == 'm', true}, out);
    } else if (marker == 0 && mouse && final == 'M' && values[0] >= kMouseOffset) {
      emitMouse({values[0] - kMouseOffset, values[1], values[2], false, false}, out);
    } else if (final == 'R' && (numbers.count == 2 || (marker == '?' && numbers.count == 3))) {
      cursorReport(marker, values[0], values[1], out);
    } else if (marker == 0) {
      finishKeyCsi(values, numbers.count, final, out);
    } else {
      emitDescribedKey('[', out);
    }
  } else {
    emitDescribedKey('[', out);
  }
  finish();
}

void TerminalDecoder::finishKeyCsi(const std::uint32_t* numbers, std::size_t count,
                                   unsigned char final, DecodedInput& out) {
  if (auto key = KeyForCsi(std::span<const std::uint32_t>(numbers, count), final)) {
    key->modifiers |= prefixModifiers_;
    emitKey(*key, out);
  } else {
    emitDescribedKey('[', out);
  }
}

// A position report: the reply to the query asked, a key (ESC [ 1 ; m R is F3
// with modifiers), or a reply nobody waits for any more, dropped.
void TerminalDecoder::cursorReport(char marker, std::uint32_t row, std::uint32_t column,
                                   DecodedInput& out) {
  if (marker == '?') {
    if (repliesExpected_ == 0) return;
    emitCursorReply(row, column, out);
    knowsPrivateReply_ = true;
    plainReplyDue_ = true;
    dueRow_ = row;
    dueColumn_ = column;
    return;
  }
  if (marker != 0) return;
  if (plainReplyDue_) {
    plainReplyDue_ = row != dueRow_ || column != dueColumn_;
    if (!plainReplyDue_) return;
  } else if (repliesExpected_ > 0 && !knowsPrivateReply_) {
    emitCursorReply(row, column, out);
    return;
  }
  if (row == 1) finishKeyCsi(std::array<std::uint32_t, 2>{row, column}.data(), 2, 'R', out);
}

void TerminalDecoder::emitCursorReply(std::uint32_t row, std::uint32_t column, DecodedInput& out) {
  out.cursorReplies.push_back({cellIndex(column, 0x7FFF), cellIndex(row, 0x7FFF)});
  if (repliesExpected_ > 0) --repliesExpected_;
}

// What waits, taken as typed after the wait ran out: ESC and the next byte is
// that byte with Alt, the rest are keys of their own; an unfinished UTF-8
// character is a bad one. An 8-bit introducer alone is no key.
void TerminalDecoder::emitPendingAsTyped(DecodedInput& out) {
  if (state_ == State::Utf8) {
    emitKey(badCharacter(), out);
    return;
  }
  std::size_t at = 0;
  if (pending_[0] == static_cast<char>(kEsc)) {
    if (prefixModifiers_ != 0 && pending_.size() > 1 && pending_[1] == static_cast<char>(kEsc)) {
      emitKey(KeyForControl(kEsc), out);
      at = 1;
    }
    if (pending_.size() == at + 1) {
      emitKey(KeyForControl(kEsc), out);
      return;
    }
    emitKey(typedCharacter(static_cast<unsigned char>(pending_[at + 1]), kModAlt), out);
    at += 2;
  } else {
    at = bodyStart_;
  }
  for (std::size_t i = at; i < pending_.size(); ++i) {
    emitKey(typedCharacter(static_cast<unsigned char>(pending_[i]), 0), out);
  }
}

// An unfinished command, mouse report or dropped sequence is no typing: it is
// dropped.
void TerminalDecoder::flush(DecodedInput& out) {
  const bool typed = state_ != State::Osc && state_ != State::OscEscape &&
                     state_ != State::MouseBytes && state_ != State::Dropping;
  if (!pending_.empty() && !emitUnendedDescribedKey(out) && typed) emitPendingAsTyped(out);
  finish();
}

// Some terminals' keys end without a final byte (the Mach console's Delete is
// ESC [ 9) or look like the start of a mouse report (the FreeBSD console's F1
// is ESC [ M): known from the description once the wait ran out.
bool TerminalDecoder::emitUnendedDescribedKey(DecodedInput& out) {
  const bool mouseStart = state_ == State::MouseBytes && pending_.size() == bodyStart_ + 1;
  if (state_ != State::Csi && !mouseStart && state_ != State::Ss3) return false;
  return emitDescribedKey(state_ == State::Ss3 ? 'O' : '[', out);
}

void TerminalDecoder::discardPending() {
  finish();
}

void TerminalDecoder::emitKey(const TerminalKey& key, DecodedInput& out) {
  if (auto record = KeyRecordFor(key)) {
    out.records.push_back(keyEvent(*record, true));
    out.records.push_back(keyEvent(*record, false));
  }
}

void TerminalDecoder::emitMouse(const MouseReport& report, DecodedInput& out) {
  const std::optional<MOUSE_EVENT_RECORD> mouse = mouse_.recordFor(report);
  if (!mouse) return;
  INPUT_RECORD record{};
  record.EventType = MOUSE_EVENT;
  record.Event.MouseEvent = *mouse;
  out.records.push_back(record);
}

}  // namespace win32::detail
