#include "platform/console/TerminalDecoder.h"

#include <array>
#include <span>

namespace win32::detail {
namespace {

constexpr unsigned char kEsc = 0x1B;
// How long a lone ESC (or the start of a sequence) waits for the rest: a
// terminal sends a key's sequence in one write, a person types slower.
constexpr int kWaitMilliseconds = 50;
constexpr std::size_t kLongestSequence = 64;
// Terminals send numbers of at most 7 digits (a Unicode character); 9 digits
// always fit in 32 bits.
constexpr int kLongestNumber = 9;
constexpr std::size_t kMostNumbers = kLongestSequence / 2;
// No terminal is wider or taller; a larger mouse cell is taken as this one.
constexpr std::uint32_t kLargestMouseCell = 4095;
constexpr WORD kWheelStep = 120;
constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr unsigned char kBel = 0x07;
// Titles longer than this are not taken from the terminal.
constexpr std::size_t kLongestTitleReply = 1024;
constexpr char kTitleReplyStart[] = "\x1b]l";

// SGR mouse report button codes: the low two bits name the button (3: none),
// then Shift, Alt, Ctrl, motion and wheel.
constexpr std::uint32_t kMouseButtonBits = 0x03;
constexpr std::uint32_t kMouseShift = 0x04;
constexpr std::uint32_t kMouseAlt = 0x08;
constexpr std::uint32_t kMouseCtrl = 0x10;
constexpr std::uint32_t kMouseMotion = 0x20;
constexpr std::uint32_t kMouseWheel = 0x40;
constexpr std::uint32_t kMouseNoButton = 3;

INPUT_RECORD keyEvent(const KEY_EVENT_RECORD& key, bool down) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent = key;
  record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  return record;
}

DWORD buttonFlag(std::uint32_t button) {
  switch (button) {
    case 0:
      return FROM_LEFT_1ST_BUTTON_PRESSED;
    case 1:
      return FROM_LEFT_2ND_BUTTON_PRESSED;
    case 2:
      return RIGHTMOST_BUTTON_PRESSED;
    default:
      return 0;
  }
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

}  // namespace

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
  return idle() ? -1 : kWaitMilliseconds;
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
  }
}

void TerminalDecoder::finish() {
  consumed_ += pending_.size();
  pending_.clear();
  state_ = State::Ground;
}

void TerminalDecoder::ground(unsigned char byte, DecodedInput& out) {
  pending_ += static_cast<char>(byte);
  if (byte == kEsc) {
    state_ = State::Escape;
    return;
  }
  if (byte < 0x80) {
    emitKey(typedCharacter(byte, 0), out);
    finish();
    return;
  }
  // UTF-8: a lead byte says how many continuation bytes follow. A stray
  // continuation byte (the 8-bit controls among them, which no terminal sends
  // in UTF-8) is dropped; a byte no UTF-8 text holds is a bad character.
  utf8Remaining_ = byte >= 0xC2 && byte <= 0xDF   ? 1
                   : byte >= 0xE0 && byte <= 0xEF ? 2
                   : byte >= 0xF0 && byte <= 0xF4 ? 3
                                                  : 0;
  if (utf8Remaining_ > 0) {
    utf8Value_ = byte & (0x3F >> utf8Remaining_);
    state_ = State::Utf8;
    return;
  }
  if (byte >= 0xC0) emitKey(badCharacter(), out);
  finish();
}

// ESC and a character is that character with Alt; ESC ESC is the Esc key
// and a new ESC. After ESC a byte beyond ASCII is taken on its own.
void TerminalDecoder::escapeByte(unsigned char byte, DecodedInput& out) {
  if (byte == ']' && titleExpected_) {
    pending_ += static_cast<char>(byte);
    titleExpected_ = false;
    oscTooLong_ = false;
    state_ = State::Osc;
    return;
  }
  if (byte == '[' || byte == 'O') {
    pending_ += static_cast<char>(byte);
    state_ = byte == '[' ? State::Csi : State::Ss3;
    return;
  }
  if (byte == kEsc || byte >= 0x80) {
    emitKey(KeyForControl(kEsc), out);
    finish();
    step(byte, out);
    return;
  }
  emitKey(typedCharacter(byte, kModAlt), out);
  pending_ += static_cast<char>(byte);
  finish();
}

void TerminalDecoder::csiByte(unsigned char byte, DecodedInput& out) {
  // A byte that cannot be part of a sequence ends it unfinished: what was
  // gathered is dropped and the byte read on its own.
  if (byte < 0x20 || byte > 0x7E) {
    finish();
    step(byte, out);
    return;
  }
  pending_ += static_cast<char>(byte);
  if (byte >= 0x40) {
    finishCsi(out);
    return;
  }
  if (pending_.size() > kLongestSequence) {  // no terminal sends these: dropped to its end
    finish();
    state_ = State::Dropping;
  }
}

void TerminalDecoder::droppingByte(unsigned char byte, DecodedInput& out) {
  if (byte < 0x20 || byte > 0x7E) {
    state_ = State::Ground;
    step(byte, out);
    return;
  }
  ++consumed_;
  if (byte >= 0x40) state_ = State::Ground;
}

// ESC O and a final byte is a key; anything else after ESC O means the two
// were typed as Alt+O.
void TerminalDecoder::ss3Byte(unsigned char byte, DecodedInput& out) {
  if (byte >= 0x40 && byte <= 0x7E) {
    if (auto key = KeyForSs3(byte)) emitKey(*key, out);
    pending_ += static_cast<char>(byte);
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
  const std::size_t length = pending_.size();
  const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  const bool bad = utf8Value_ < smallest || utf8Value_ > 0x10FFFF ||
                   (utf8Value_ >= 0xD800 && utf8Value_ <= 0xDFFF);
  TerminalKey key;
  key.character = bad ? kReplacementCharacter : utf8Value_;
  emitKey(key, out);
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
  std::string_view body = whole.substr(2, whole.size() - 3);
  const auto final = static_cast<unsigned char>(whole.back());
  char marker = 0;
  if (!body.empty() && isPrivateMarker(body.front())) {
    marker = body.front();
    body.remove_prefix(1);
  }
  Numbers numbers;
  if (parseNumbers(body, numbers)) {
    const std::span<const std::uint32_t> values(numbers.values.data(), numbers.count);
    const bool reportsPosition = final == 'R' && numbers.count == 2;
    if (marker == '<' && (final == 'M' || final == 'm') && numbers.count == 3) {
      emitMouse(numbers.values.data(), final == 'm', out);
    } else if (reportsPosition && (marker == '?' || (marker == 0 && repliesExpected_ > 0))) {
      emitCursorReply(values[0], values[1], out);
    } else if (reportsPosition && marker == 0 && values[0] != 1) {
      emitCursorReply(values[0], values[1], out);  // a late reply; no key sends it
    } else if (marker == 0) {
      if (auto key = KeyForCsi(values, final)) emitKey(*key, out);
    }
  }
  finish();
}

void TerminalDecoder::emitCursorReply(std::uint32_t row, std::uint32_t column, DecodedInput& out) {
  out.cursorReplies.push_back({cellIndex(column, 0x7FFF), cellIndex(row, 0x7FFF)});
  if (repliesExpected_ > 0) --repliesExpected_;
}

// What waits, taken as typed after the wait ran out: ESC and the next byte is
// that byte with Alt, the rest are keys of their own; an unfinished UTF-8
// character is a bad one.
void TerminalDecoder::emitPendingAsTyped(DecodedInput& out) {
  if (state_ == State::Utf8) {
    emitKey(badCharacter(), out);
    return;
  }
  if (pending_.size() == 1) {
    emitKey(KeyForControl(kEsc), out);
    return;
  }
  emitKey(typedCharacter(static_cast<unsigned char>(pending_[1]), kModAlt), out);
  for (std::size_t i = 2; i < pending_.size(); ++i) {
    emitKey(typedCharacter(static_cast<unsigned char>(pending_[i]), 0), out);
  }
}

// An unfinished command is no typing: it is dropped.
void TerminalDecoder::flush(DecodedInput& out) {
  const bool command = state_ == State::Osc || state_ == State::OscEscape;
  if (!pending_.empty() && !command) emitPendingAsTyped(out);
  finish();
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

// SGR reports, ESC [ < code ; column ; row M (m for a release): motion comes
// with the motion bit, wheel steps as presses with the wheel bit.
void TerminalDecoder::emitMouse(const std::uint32_t* numbers, bool released, DecodedInput& out) {
  const std::uint32_t code = numbers[0];
  INPUT_RECORD record{};
  record.EventType = MOUSE_EVENT;
  MOUSE_EVENT_RECORD& mouse = record.Event.MouseEvent;
  mouse.dwMousePosition = {cellIndex(numbers[1], kLargestMouseCell),
                           cellIndex(numbers[2], kLargestMouseCell)};
  if ((code & kMouseShift) != 0) mouse.dwControlKeyState |= SHIFT_PRESSED;
  if ((code & kMouseAlt) != 0) mouse.dwControlKeyState |= LEFT_ALT_PRESSED;
  if ((code & kMouseCtrl) != 0) mouse.dwControlKeyState |= LEFT_CTRL_PRESSED;
  const std::uint32_t button = code & kMouseButtonBits;
  if ((code & kMouseWheel) != 0) {
    if (released || button > 1) return;  // horizontal wheels have no console record here
    const WORD delta = button == 0 ? kWheelStep : static_cast<WORD>(-kWheelStep);
    mouse.dwButtonState = mouseButtons_ | (static_cast<DWORD>(delta) << 16);
    mouse.dwEventFlags = MOUSE_WHEELED;
    out.records.push_back(record);
    return;
  }
  const bool moved = !released && (code & kMouseMotion) != 0;
  if (released) {
    mouseButtons_ &= ~buttonFlag(button);
  } else if (button != kMouseNoButton) {
    mouseButtons_ |= buttonFlag(button);
  }
  mouse.dwButtonState = mouseButtons_;
  mouse.dwEventFlags = moved ? MOUSE_MOVED : 0;
  out.records.push_back(record);
}

}  // namespace win32::detail
