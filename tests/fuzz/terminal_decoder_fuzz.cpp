// libFuzzer target for the console host's terminal decoder: any bytes, cut
// into reads anywhere and paused where the reader would be waiting, with or
// without replies awaited, in any character form, must neither crash, hang
// nor leak; every byte must be accounted for, every key press must come with
// its release, and a key typed after a pause must arrive as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/console/Console.h"
#include "platform/console/TerminalDecoder.h"

namespace {

using win32::detail::DecodedInput;
using win32::detail::TerminalDecoder;

void require(bool condition) {
  if (!condition) std::abort();
}

void checkPairs(const DecodedInput& out) {
  for (std::size_t i = 0; i < out.records.size(); ++i) {
    const win32::INPUT_RECORD& record = out.records[i];
    if (record.EventType != win32::KEY_EVENT) {
      require(record.EventType == win32::MOUSE_EVENT);
      continue;
    }
    require(record.Event.KeyEvent.bKeyDown != 0 && i + 1 < out.records.size());
    const win32::INPUT_RECORD& release = out.records[++i];
    require(release.EventType == win32::KEY_EVENT && release.Event.KeyEvent.bKeyDown == 0);
    require(release.Event.KeyEvent.wVirtualScanCode == record.Event.KeyEvent.wVirtualScanCode);
  }
}

// A pause as the reader has it: its wait runs out only while something waits
// (then the decoder takes it as it stands); after it the decoder is idle, and
// a key typed then (q) is that key.
void pause(TerminalDecoder& decoder, DecodedInput& out) {
  if (decoder.pendingTimeout() >= 0) decoder.flush(out);
  require(decoder.idle() && decoder.pendingTimeout() == -1);
  DecodedInput typed;
  decoder.feed("q", 1, typed);
  require(typed.records.size() == 2 && typed.cursorReplies.empty() && typed.titleReplies.empty());
  require(typed.records[0].EventType == win32::KEY_EVENT);
  require(typed.records[0].Event.KeyEvent.uChar.AsciiChar == 'q');
  require(typed.records[0].Event.KeyEvent.dwControlKeyState == 0);
}

// Some terminals' descriptions, keys the built-in table does not know among
// them (one ends with no final byte, one looks like a mouse report).
win32::detail::TerminalDescription description(unsigned char backspace, bool meta) {
  using win32::detail::KeyOfSymbol;
  using win32::detail::KeySymbol;
  return {{{"\x1b[224z", win32::detail::FunctionKey(1, 0)},
           {"\x1b[9", KeyOfSymbol(KeySymbol::Delete)},
           {"\x1b[M", win32::detail::FunctionKey(1, 0)},
           {"\x1bOT", win32::detail::FunctionKey(5, 0)}},
          backspace,
          meta};
}

}  // namespace

// The start every program of the system makes, before the first input.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  win32::detail::ConnectConsoleHost();
  return 0;
}

// The first byte chooses the read size (1 to 32 bytes), whether cursor and
// title replies are awaited, and the character form; the second whether keys
// are described and which byte Backspace sends. A 0xFF byte in the input
// stands for a pause: the reader waiting on the terminal until its wait (if
// any) ran out, and then a key typed.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = (data[0] & 0x1F) + 1;
  const bool replies = (data[0] & 0x20) != 0;
  const bool title = (data[0] & 0x40) != 0;
  const bool latin1 = (data[0] & 0x80) != 0;
  const bool meta = (data[1] & 0x01) != 0;
  const bool described = (data[1] & 0x02) != 0;
  const unsigned char backspace = (data[1] & 0x04) != 0 ? 0x08 : 0x7F;
  data += 2;
  size -= 2;
  TerminalDecoder decoder;
  decoder.setCharacterForm({!latin1, meta});
  if (described) decoder.describe(description(backspace, !meta));
  if (replies) decoder.expectCursorReply();
  if (title) decoder.expectTitleReply();
  DecodedInput out;
  std::size_t fed = 0;
  for (std::size_t at = 0; at < size;) {
    if (data[at] == 0xFF) {
      pause(decoder, out);
      ++at;
      ++fed;
      continue;
    }
    std::size_t length = 0;
    while (length < chunk && at + length < size && data[at + length] != 0xFF) ++length;
    decoder.feed(reinterpret_cast<const char*>(data + at), length, out);
    at += length;
    fed += length;
  }
  decoder.flush(out);
  // Each pause's typed key stands in for its marker byte.
  require(decoder.bytesConsumed() == fed);
  require(decoder.bytesWaiting() == 0);
  require(decoder.pendingTimeout() == -1);
  checkPairs(out);
  return 0;
}
