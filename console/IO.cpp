#include "console/IO.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "channels/ChanConsts.h"
#include "channels/IOChan.h"
#include "channels/IOConsts.h"
#include "channels/SeqFile.h"
#include "channels/StdChans.h"
#include "console/Str.h"
#include "console/ktsIO.h"
#include "input/BiosIO.h"
#include "input/ktsEvQue.h"
#include "runtime/EXCEPTIONS.h"
#include "runtime/ModuleInit.h"
#include "runtime/krnK2C.h"

namespace IO {
namespace {

constexpr char LF = '\x0A';
constexpr std::size_t fieldBuffer = 256;
constexpr std::uint32_t repPiece = 254;  // characters per write of WrCharRep

bool initialised = false;
bool atLineStart = true;
IOChan::ChanId outChan = nullptr;
IOChan::ChanId inChan = nullptr;

std::uint32_t textLength(const char* s, std::size_t capacity) {
  return static_cast<std::uint32_t>(strnlen(s, capacity));
}

void writeStr(const char* s, std::size_t capacity) {
  atLineStart = false;
  IOChan::TextWrite(outChan, s, textLength(s, capacity));
}

void readStr(char* s, std::size_t capacity) {
  if (Prompt && atLineStart) WrStr("?");
  atLineStart = true;
  win32::DWORD mode = 0;
  ktsIO::SetConMode(true, mode);
  std::uint32_t n = 0;
  IOChan::TextRead(inChan, s, static_cast<std::uint32_t>(capacity), n);
  char ch = '\0';
  IOConsts::ReadResult result = IOConsts::notKnown;
  IOChan::Look(inChan, ch, result);
  if (result == IOConsts::endOfLine) IOChan::Skip(inChan);
  ktsIO::SetConMode(false, mode);
  if (n < capacity) s[n] = '\0';
}

CharSet defaultSeparators() {
  CharSet set;
  for (unsigned char c : {0x09, 0x0A, 0x0D, 0x1A, 0x20}) set.set(c);
  return set;
}

}  // namespace

bool ChopOff = false;
bool Eng = false;
bool InputRedirected = false;
bool OK = true;
bool OutputRedirected = false;
char PrefixChar = ' ';
bool Prompt = false;
bool RdLnOnWr = false;
RdStrProc RdStrRedirect = readStr;
CharSet Separators = defaultSeparators();
char SuffixChar = ' ';
WrStrProc WrStrRedirect = writeStr;

// TRUE while a key is queued; the key stays queued.
bool KeyPressed() {
  return BiosIO::KeyPressed();
}

// Takes no input and has no visible effect.
void RdLn() {}

void WrStr(const char* s, std::size_t capacity) {
  WrStrRedirect(s, capacity);
}

void WrChar(char c) {
  if (RdLnOnWr) RdLn();
  const char text[1] = {c};
  WrStr(text, 1);
}

void WrLn() {
  if (RdLnOnWr) RdLn();
  WrChar(LF);
  atLineStart = true;
}

void WrCharRep(char c, std::uint32_t count) {
  if (RdLnOnWr) RdLn();
  char piece[fieldBuffer];
  while (count > 0) {
    std::uint32_t n = std::min(count, repPiece);
    std::memset(piece, c, n);
    piece[n] = '\0';
    WrStr(piece, sizeof piece);
    count -= n;
  }
}

void WrStrAdj(const char* s, std::size_t capacity, std::int32_t length) {
  if (RdLnOnWr) RdLn();
  OK = true;
  const std::int64_t width = std::llabs(std::int64_t{length});
  const std::int64_t missing = width - textLength(s, capacity);
  if (missing < 0 && ChopOff) {
    WrCharRep('?', static_cast<std::uint32_t>(width));
    OK = false;
    return;
  }
  if (length > 0 && missing > 0) WrCharRep(PrefixChar, static_cast<std::uint32_t>(missing));
  WrStr(s, capacity);
  if (length < 0 && missing > 0) WrCharRep(SuffixChar, static_cast<std::uint32_t>(missing));
}

void WrCard(std::uint32_t value, std::int32_t width) {
  char digits[fieldBuffer];
  bool ok = false;
  Str::CardToStr(value, digits, sizeof digits, 10, ok);
  OK = ok;
  if (ok) WrStrAdj(digits, sizeof digits, width);
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  K2C_InitFPP();
  ktsEvQue::BEGIN();
  ktsIO::BEGIN();
  BiosIO::BEGIN();
  IOConsts::BEGIN();
  ChanConsts::BEGIN();
  StdChans::BEGIN();
  IOChan::BEGIN();
  SeqFile::BEGIN();
  Str::BEGIN();
  EXCEPTIONS::BEGIN();
  inChan = StdChans::InChan();
  InputRedirected = false;
  outChan = StdChans::StdOutChan();
  OutputRedirected = false;
  ChopOff = false;
  Eng = false;
  OK = true;
  PrefixChar = ' ';
  Prompt = false;
  RdLnOnWr = false;
  RdStrRedirect = readStr;
  Separators = defaultSeparators();
  SuffixChar = ' ';
  WrStrRedirect = writeStr;
  atLineStart = true;
}

}  // namespace IO
