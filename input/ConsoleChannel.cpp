#include "input/ConsoleChannel.h"

#include <algorithm>
#include <cstring>

#include "channels/ChanConsts.h"
#include "channels/IOChan.h"
#include "channels/IOConsts.h"
#include "channels/IOLink.h"
#include "channels/StdChans.h"
#include "channels/kDevData.h"
#include "runtime/kosFiles.h"
#include "input/ktsEvQue.h"
#include "platform/Win32.h"

namespace ktsEvQue {
namespace {

using IOLink::DeviceTablePtr;

constexpr char CR = '\x0D';
constexpr char LF = '\x0A';

// Key codes the editor acts on: a character, or a key code times 256.
constexpr std::uint32_t kBackspace = 0x08;
constexpr std::uint32_t kEnter = 0x0D;
constexpr std::uint32_t kHome = 0x4700;
constexpr std::uint32_t kLeft = 0x4B00;
constexpr std::uint32_t kRight = 0x4D00;
constexpr std::uint32_t kEnd = 0x4F00;
constexpr std::uint32_t kDelete = 0x5300;
constexpr std::uint32_t kNoKey = 0;  // keys can no longer be read

constexpr win32::DWORD kFullLineBeepHz = 500;
constexpr win32::DWORD kFullLineBeepMs = 15;
constexpr std::int32_t kFallbackWidth = 80;
constexpr std::uint32_t kStdInputSelector = 0;

// The line being handed out by the channel; used by the reading thread only.
constexpr std::uint32_t kLineSize = 257;  // 255 characters and CR LF
struct InputLine {
  char text[kLineSize] = {};
  std::uint32_t length = 0;
  std::uint32_t position = 0;  // the next character to hand out
};
InputLine line;
IOLink::DeviceId consoleDeviceId = nullptr;

bool isEditingKey(std::uint32_t k) {
  if (k >= 0x20 && k <= 0xFF) return true;
  switch (k) {
    case kBackspace:
    case kEnter:
    case kHome:
    case kLeft:
    case kRight:
    case kEnd:
    case kDelete:
      return true;
    default:
      return false;
  }
}

// The next key the editor acts on; every other key is taken and dropped.
std::uint32_t readKeyCode() {
  for (;;) {
    char ch = 0;
    std::uint8_t scan = 0;
    if (!getKey(ch, scan, true)) return kNoKey;
    const auto c = static_cast<std::uint8_t>(ch);
    const std::uint32_t k = c != 0 ? c : std::uint32_t{scan} * 256;
    if (isEditingKey(k)) return k;
  }
}

// Where the line is drawn and how it scrolls.
struct Editor {
  win32::HANDLE output;
  char* buffer;
  std::uint32_t size;
  std::int32_t startX = 0;
  std::int32_t row = 0;
  std::int32_t width = kFallbackWidth;
  std::int32_t cur = 0;
  std::int32_t len = 0;
  std::int32_t first = 0;
};

void placeEditor(Editor& e) {
  win32::CONSOLE_SCREEN_BUFFER_INFO info{};
  if (win32::GetConsoleScreenBufferInfo(e.output, &info) == 0) return;
  e.startX = info.dwCursorPosition.X;
  e.row = info.dwCursorPosition.Y;
  // A cursor at (or past) the right edge still leaves one column to edit in.
  e.width = std::max(1, info.dwSize.X - info.dwCursorPosition.X);
}

void redraw(const Editor& e) {
  for (std::int32_t j = 0; j < e.width; ++j) {
    const char c = e.first + j < e.len ? e.buffer[e.first + j] : ' ';
    win32::DWORD written = 0;
    const win32::COORD at{static_cast<win32::SHORT>(e.startX + j),
                          static_cast<win32::SHORT>(e.row)};
    win32::WriteConsoleOutputCharacterA(e.output, &c, 1, at, &written);
  }
  win32::SetConsoleCursorPosition(e.output, {static_cast<win32::SHORT>(e.startX + e.cur - e.first),
                                             static_cast<win32::SHORT>(e.row)});
}

void deleteAt(Editor& e, std::int32_t i) {
  std::memmove(e.buffer + i, e.buffer + i + 1, static_cast<std::size_t>(e.len - i - 1));
  --e.len;
}

// Typing overwrites, it never inserts.
void typeCharacter(Editor& e, char c) {
  if (e.cur > static_cast<std::int32_t>(e.size) - 3) {
    win32::Beep(kFullLineBeepHz, kFullLineBeepMs);
    return;
  }
  e.buffer[e.cur] = c;
  ++e.cur;
  e.len = std::max(e.len, e.cur);
  if (e.cur - e.first >= e.width) ++e.first;
}

void applyKey(Editor& e, std::uint32_t k) {
  switch (k) {
    case kBackspace:
      if (e.cur > 0) {
        --e.cur;
        deleteAt(e, e.cur);
        e.first = std::min(e.first, e.cur);
      }
      break;
    case kDelete:
      if (e.cur < e.len) deleteAt(e, e.cur);
      break;
    case kHome:
      e.cur = 0;
      e.first = 0;
      break;
    case kEnd:
      if (e.len - e.first >= e.width) e.first = e.len - e.width + 1;
      e.cur = e.len;
      break;
    case kLeft:
      if (e.cur > 0) {
        --e.cur;
        if (e.cur < e.first) e.first = e.cur;
      }
      break;
    case kRight:
      if (e.cur < e.len) {
        ++e.cur;
        if (e.cur - e.first >= e.width) ++e.first;
      }
      break;
    default:
      typeCharacter(e, static_cast<char>(k));
      break;
  }
}

// ---- The channel's procedures ------------------------------------------------

void fillLine() {
  if (line.position < line.length) return;
  line.position = 0;
  line.length = detail::editLine(line.text, kLineSize);
}

bool atLineEnd(char c) {
  return c == CR || c == LF;
}

void conLook(DeviceTablePtr t, char& ch, IOConsts::ReadResult& res) {
  fillLine();
  if (line.position < line.length) {
    ch = line.text[line.position];
    res = atLineEnd(ch) ? IOConsts::endOfLine : IOConsts::allRight;
  } else {
    res = IOConsts::endOfInput;
  }
  t->result = res;
}

void conSkip(DeviceTablePtr t) {
  fillLine();
  if (line.position >= line.length) {
    IOLink::RAISEdevException(t, consoleDeviceId, IOLink::skipAtEnd, "");
  }
  // The whole line end (CR LF) is passed over at once.
  line.position = atLineEnd(line.text[line.position]) ? line.length : line.position + 1;
  t->result = IOConsts::allRight;
}

void conSkipLook(DeviceTablePtr t, char& ch, IOConsts::ReadResult& res) {
  conSkip(t);
  conLook(t, ch, res);
}

void conTextRead(DeviceTablePtr t, void* to, std::uint32_t maxChars, std::uint32_t& charsRead) {
  fillLine();
  charsRead = 0;
  if (maxChars == 0) {
    t->result = IOConsts::allRight;
    return;
  }
  auto* out = static_cast<char*>(to);
  while (charsRead < maxChars) {
    if (line.position >= line.length) {
      t->result = IOConsts::endOfInput;
      return;
    }
    if (atLineEnd(line.text[line.position])) {
      t->result = charsRead > 0 ? IOConsts::allRight : IOConsts::endOfLine;
      return;
    }
    out[charsRead++] = line.text[line.position++];
  }
  t->result = IOConsts::allRight;
}

// Line ends are handed out as they are.
void conRawRead(DeviceTablePtr t, void* to, std::uint32_t maxLocs, std::uint32_t& locsRead) {
  locsRead = 0;
  if (maxLocs == 0) return;
  fillLine();
  if (line.position >= line.length) {
    t->result = IOConsts::endOfInput;
    return;
  }
  const std::uint32_t n = std::min(line.length - line.position, maxLocs);
  std::memcpy(to, line.text + line.position, n);
  line.position += n;
  locsRead = n;
  t->result = IOConsts::allRight;
}

}  // namespace

namespace detail {

std::uint32_t editLine(char* buffer, std::uint32_t size) {
  Editor e{win32::GetStdHandle(win32::STD_OUTPUT_HANDLE), buffer, size};
  placeEditor(e);
  for (;;) {
    redraw(e);
    const std::uint32_t k = readKeyCode();
    if (k == kNoKey) return 0;
    if (k == kEnter) {
      buffer[e.len] = CR;
      buffer[e.len + 1] = LF;
      win32::DWORD written = 0;
      win32::WriteConsoleA(e.output, "\r\n", 2, &written, nullptr);
      return static_cast<std::uint32_t>(e.len) + 2;
    }
    applyKey(e, k);
  }
}

}  // namespace detail

void installConsoleChannel() {
  consoleDeviceId = IOLink::AllocateDeviceId();
  win32::HANDLE input = nullptr;
  if (K2C_fGetStd(input, kStdInputSelector) != 0) return;
  char* name = nullptr;
  ChanConsts::OpenResult result = ChanConsts::opened;
  kDevData::MakeName(name, "", result);
  const IOLink::ChanId cid = IOLink::MakeChan(consoleDeviceId);
  if (cid == IOChan::InvalidChan()) return;
  DeviceTablePtr t = IOLink::DeviceTablePtrValue(cid, consoleDeviceId, IOLink::notAvailable, "");
  ChanConsts::ChanFlags flags = ChanConsts::readFlag | ChanConsts::textFlag;
  if (K2C_IsMixAllowed()) flags |= ChanConsts::rawFlag;
  kDevData::Open(t, input, name, flags, kDevData::standardStream, result);
  if (result != ChanConsts::opened) return;
  t->look = conLook;
  t->skip = conSkip;
  t->skipLook = conSkipLook;
  t->textRead = conTextRead;
  t->rawRead = conRawRead;
  StdChans::SetInChan(cid);
}

}  // namespace ktsEvQue
