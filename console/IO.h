// Console text I/O: characters, strings and unsigned numbers in fields on the
// standard output channel, whether a key is waiting, and a string-reading
// hook on the standard input channel.
//
// Character arrays travel as a pointer and a capacity: the text ends at the
// first NUL or at the capacity. Arrays and string views pass their size.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace IO {

using CharSet = std::bitset<256>;
using WrStrProc = void (*)(const char* s, std::size_t capacity);
using RdStrProc = void (*)(char* s, std::size_t capacity);

extern bool ChopOff;  // WrStrAdj: a text too long for its field becomes "?"s
extern bool Eng;
extern bool InputRedirected;
extern bool OK;  // outcome of the last WrCard or WrStrAdj
extern bool OutputRedirected;
extern char PrefixChar;  // fill before a right-aligned field
extern bool Prompt;      // the default reader writes "?" at the start of a line
extern bool RdLnOnWr;    // the write procedures but WrStr call RdLn first
extern RdStrProc RdStrRedirect;
extern CharSet Separators;
extern char SuffixChar;          // fill after a left-aligned field
extern WrStrProc WrStrRedirect;  // behind every write procedure

bool KeyPressed();
void RdLn();
void WrCard(std::uint32_t value, std::int32_t width);
void WrChar(char c);
void WrCharRep(char c, std::uint32_t count);
void WrLn();
void WrStr(const char* s, std::size_t capacity);
// A positive length right-aligns the text in a field of that many characters,
// a negative one left-aligns it.
void WrStrAdj(const char* s, std::size_t capacity, std::int32_t length);

inline void WrStr(std::string_view s) {
  WrStr(s.data(), s.size());
}
template <std::size_t N>
void WrStr(const char (&s)[N]) {
  WrStr(s, N);
}
inline void WrStrAdj(std::string_view s, std::int32_t length) {
  WrStrAdj(s.data(), s.size(), length);
}
template <std::size_t N>
void WrStrAdj(const char (&s)[N], std::int32_t length) {
  WrStrAdj(s, N, length);
}

void BEGIN();

}  // namespace IO
