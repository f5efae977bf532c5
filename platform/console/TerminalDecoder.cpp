#include "platform/console/TerminalDecoder.h"

#include <termkey.h>

#include <cstring>
#include <stdexcept>

#include "platform/console/TerminalKeys.h"

namespace win32::detail {
namespace {

// No terminfo entry: libtermkey then reads the xterm/VT sequences itself. With
// a real entry its terminfo driver claims ESC [ < (xterm's mouse prefix) as an
// old-style mouse report and garbles SGR reports.
constexpr const char* kTerminalName = "shapeboard-console";
constexpr int kFlags = TERMKEY_FLAG_UTF8 | TERMKEY_FLAG_NOTERMIOS;
constexpr WORD kWheelStep = 120;

INPUT_RECORD keyEvent(const KEY_EVENT_RECORD& key, bool down) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent = key;
  record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  return record;
}

DWORD buttonFlag(int button) {
  switch (button) {
    case 1:
      return FROM_LEFT_1ST_BUTTON_PRESSED;
    case 2:
      return FROM_LEFT_2ND_BUTTON_PRESSED;
    case 3:
      return RIGHTMOST_BUTTON_PRESSED;
    default:
      return 0;
  }
}

SHORT cellIndex(int oneBased) {
  if (oneBased < 1) return 0;
  return static_cast<SHORT>(oneBased > 0x7FFF ? 0x7FFE : oneBased - 1);
}

constexpr std::size_t kLongestSequence = 64;
// Terminals send numbers of at most 7 digits (a Unicode character); libtermkey
// overflows on about 20.
constexpr int kLongestNumber = 9;

// A whole gathered sequence that is ESC [ row ; column R, each number at most
// five digits.
bool isCursorReply(const std::string& sequence, int& row, int& column) {
  if (sequence.size() < 6 || sequence.compare(0, 2, "\x1b[") != 0 || sequence.back() != 'R') {
    return false;
  }
  int numbers[2] = {0, 0};
  int field = 0;
  int digits = 0;
  for (std::size_t i = 2; i + 1 < sequence.size(); ++i) {
    const char c = sequence[i];
    if (c == ';' && field == 0 && digits > 0) {
      field = 1;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 5) {
      numbers[field] = numbers[field] * 10 + (c - '0');
      ++digits;
    } else {
      return false;
    }
  }
  row = numbers[0];
  column = numbers[1];
  return field == 1 && digits > 0;
}

}  // namespace

TerminalDecoder::TerminalDecoder() : termkey_(termkey_new_abstract(kTerminalName, kFlags)) {
  if (termkey_ == nullptr) throw std::runtime_error("libtermkey cannot start");
  termkey_set_canonflags(termkey_, 0);
}

TerminalDecoder::~TerminalDecoder() {
  termkey_destroy(termkey_);
}

void TerminalDecoder::expectCursorReply() {
  ++repliesExpected_;
}

std::size_t TerminalDecoder::bytesWaiting() const {
  return sequence_.bytes.size() + termkey_get_buffer_size(termkey_) -
         termkey_get_buffer_remaining(termkey_);
}

int TerminalDecoder::pendingTimeout() const {
  return bytesWaiting() > 0 ? termkey_get_waittime(termkey_) : -1;
}

// Control sequences (ESC [ ... final) are gathered whole before libtermkey
// sees them: a cursor reply is taken out, and a sequence with intermediate
// bytes (0x20-0x2F) or too long a number is dropped, since libtermkey 0.22
// reads past its tables on some of those (ESC [ 2 4 # R, or ESC [ and 21
// digits and u, crash it). Other bytes pass at once.
void TerminalDecoder::feed(const char* bytes, std::size_t length, DecodedInput& out) {
  std::string plain;
  for (std::size_t i = 0; i < length; ++i) gate(bytes[i], plain, out);
  push(plain.data(), plain.size(), out);
}

void TerminalDecoder::gate(char byte, std::string& plain, DecodedInput& out) {
  const auto b = static_cast<unsigned char>(byte);
  switch (sequence_.state) {
    case SequenceState::Ground:
      if (b == 0x1B) {
        utf8Remaining_ = 0;
        sequence_ = {SequenceState::Escape, "\x1b", false, 0};
      } else if (isStrayControl(b)) {
        ++consumed_;
      } else {
        plain += byte;
      }
      return;
    case SequenceState::Escape:
      escapeByte(byte, plain);
      return;
    case SequenceState::Csi:
      csiByte(byte, plain, out);
      return;
    case SequenceState::Dropping:
      if (b >= 0x20 && b <= 0x7E) {
        ++consumed_;
        if (b >= 0x40) sequence_ = {};
        return;
      }
      sequence_ = {};
      gate(byte, plain, out);
      return;
  }
}

// An ESC reaches libtermkey only together with the byte after it, so that a
// byte dropped here can never make libtermkey see an ESC [ not looked at.
// ESC ESC keeps the second only; a stray 8-bit control after ESC is dropped.
void TerminalDecoder::escapeByte(char byte, std::string& plain) {
  const auto b = static_cast<unsigned char>(byte);
  if (b == '[') {
    sequence_.state = SequenceState::Csi;
    sequence_.bytes += byte;
    return;
  }
  if (b == 0x1B || isStrayControl(b)) {
    ++consumed_;
    return;
  }
  plain += sequence_.bytes;
  plain += byte;
  sequence_ = {};
}

void TerminalDecoder::csiByte(char byte, std::string& plain, DecodedInput& out) {
  const auto b = static_cast<unsigned char>(byte);
  // A byte that cannot be part of a sequence ends it unfinished; libtermkey
  // would read on past that byte, so what was gathered is dropped.
  if (b < 0x20 || b > 0x7E) {
    endSequence(plain, false);
    gate(byte, plain, out);
    return;
  }
  sequence_.bytes += byte;
  sequence_.digits = b >= '0' && b <= '9' ? sequence_.digits + 1 : 0;
  if (b <= 0x2F || sequence_.digits > kLongestNumber) sequence_.dropped = true;
  if (b >= 0x40) {
    finishSequence(plain, out);
    return;
  }
  if (sequence_.bytes.size() > kLongestSequence) {  // no terminal sends these: dropped
    consumed_ += sequence_.bytes.size();
    sequence_ = {SequenceState::Dropping, {}, false, 0};
  }
}

void TerminalDecoder::finishSequence(std::string& plain, DecodedInput& out) {
  int row = 0;
  int column = 0;
  if (repliesExpected_ > 0 && isCursorReply(sequence_.bytes, row, column)) {
    out.cursorReplies.push_back({cellIndex(column), cellIndex(row)});
    --repliesExpected_;
    consumed_ += sequence_.bytes.size();
    sequence_ = {};
    return;
  }
  endSequence(plain, !sequence_.dropped);
}

// The 8-bit controls 0x80-0x9F outside a UTF-8 character: libtermkey would
// take 0x9B as CSI and 0x8F as SS3 and read on past its tables as above; no
// terminal sends them in UTF-8, so they are dropped.
bool TerminalDecoder::isStrayControl(unsigned char b) {
  if (b >= 0x80 && b <= 0xBF && utf8Remaining_ > 0) {
    --utf8Remaining_;
    return false;
  }
  utf8Remaining_ = b >= 0xF0 && b <= 0xF7   ? 3
                   : b >= 0xE0 && b <= 0xEF ? 2
                   : b >= 0xC0 && b <= 0xDF ? 1
                                            : 0;
  return b >= 0x80 && b <= 0x9F;
}

// Hands the gathered bytes to libtermkey, or drops them.
void TerminalDecoder::endSequence(std::string& plain, bool pass) {
  if (pass) {
    plain += sequence_.bytes;
  } else {
    consumed_ += sequence_.bytes.size();
  }
  sequence_ = {};
}

// libtermkey's buffer is small: bytes go in as room is made by taking keys
// out; when a sequence fills it without ending, it is taken as it stands.
void TerminalDecoder::push(const char* bytes, std::size_t length, DecodedInput& out) {
  while (length > 0) {
    std::size_t taken = termkey_push_bytes(termkey_, bytes, length);
    if (taken == static_cast<std::size_t>(-1)) taken = 0;  // full: no room at all
    consumed_ += taken;
    bytes += taken;
    length -= taken;
    drain(out, taken == 0);
  }
  drain(out, false);
}

void TerminalDecoder::drain(DecodedInput& out, bool force) {
  TermKeyKey key{};
  while (true) {
    TermKeyResult result = termkey_getkey(termkey_, &key);
    if (result == TERMKEY_RES_AGAIN && force) {
      result = termkey_getkey_force(termkey_, &key);
      force = false;
    }
    if (result != TERMKEY_RES_KEY) return;
    emit(key, out);
  }
}

void TerminalDecoder::flush(DecodedInput& out) {
  std::string plain;
  if (sequence_.state == SequenceState::Dropping) sequence_ = {};
  endSequence(plain, !sequence_.dropped);
  push(plain.data(), plain.size(), out);
  TermKeyKey key{};
  while (termkey_getkey_force(termkey_, &key) == TERMKEY_RES_KEY) emit(key, out);
}

void TerminalDecoder::emit(const TermKeyKey& key, DecodedInput& out) {
  const int type = KeyTypeOf(key);
  if (type == TERMKEY_TYPE_MOUSE) {
    emitMouse(key, out);
    return;
  }
  if (type == TERMKEY_TYPE_POSITION) {
    int row = 0;
    int column = 0;
    termkey_interpret_position(termkey_, &key, &row, &column);
    out.cursorReplies.push_back({cellIndex(column), cellIndex(row)});
    if (repliesExpected_ > 0) --repliesExpected_;
    return;
  }
  if (auto record = KeyRecordFor(key)) {
    out.records.push_back(keyEvent(*record, true));
    out.records.push_back(keyEvent(*record, false));
  }
}

// SGR reports: a press or release names its button; motion with no button
// down comes as a release of button 0; wheel steps are presses of 4 and 5.
void TerminalDecoder::emitMouse(const TermKeyKey& key, DecodedInput& out) {
  TermKeyMouseEvent reported = TERMKEY_MOUSE_UNKNOWN;
  int button = 0;
  int row = 0;
  int column = 0;
  if (termkey_interpret_mouse(termkey_, &key, &reported, &button, &row, &column) !=
      TERMKEY_RES_KEY) {
    return;
  }
  int event = 0;  // read as a plain integer, as the key's type is (KeyTypeOf)
  static_assert(sizeof event == sizeof reported);
  std::memcpy(&event, &reported, sizeof event);
  INPUT_RECORD record{};
  record.EventType = MOUSE_EVENT;
  MOUSE_EVENT_RECORD& mouse = record.Event.MouseEvent;
  mouse.dwMousePosition = {cellIndex(column), cellIndex(row)};
  mouse.dwControlKeyState = 0;
  if ((key.modifiers & TERMKEY_KEYMOD_SHIFT) != 0) mouse.dwControlKeyState |= SHIFT_PRESSED;
  if ((key.modifiers & TERMKEY_KEYMOD_ALT) != 0) mouse.dwControlKeyState |= LEFT_ALT_PRESSED;
  if ((key.modifiers & TERMKEY_KEYMOD_CTRL) != 0) mouse.dwControlKeyState |= LEFT_CTRL_PRESSED;
  if (event == TERMKEY_MOUSE_PRESS && (button == 4 || button == 5)) {
    const WORD delta = button == 4 ? kWheelStep : static_cast<WORD>(-kWheelStep);
    mouse.dwButtonState = mouseButtons_ | (static_cast<DWORD>(delta) << 16);
    mouse.dwEventFlags = MOUSE_WHEELED;
    out.records.push_back(record);
    return;
  }
  if (event == TERMKEY_MOUSE_PRESS) mouseButtons_ |= buttonFlag(button);
  if (event == TERMKEY_MOUSE_RELEASE) mouseButtons_ &= ~buttonFlag(button);
  if (event == TERMKEY_MOUSE_DRAG) mouseButtons_ |= buttonFlag(button);
  const bool moved = event == TERMKEY_MOUSE_DRAG || (event == TERMKEY_MOUSE_RELEASE && button == 0);
  mouse.dwButtonState = mouseButtons_;
  mouse.dwEventFlags = moved ? MOUSE_MOVED : 0;
  out.records.push_back(record);
}

}  // namespace win32::detail
