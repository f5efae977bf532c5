// libFuzzer target for the console host's terminal decoder: any bytes, cut
// into reads anywhere, with or without a cursor reply awaited, must neither
// crash, hang nor leak, every byte must be accounted for, and every key
// press must come with its release.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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

}  // namespace

// The first byte chooses the read size (1 to 32 bytes) and whether cursor
// and title replies are awaited; a 0xFF byte in the input stands for "the reader's wait ran
// out here" (the decoder takes what waits as it stands).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = (data[0] & 0x1F) + 1;
  const bool replies = (data[0] & 0x20) != 0;
  const bool title = (data[0] & 0x40) != 0;
  ++data;
  --size;
  TerminalDecoder decoder;
  if (replies) decoder.expectCursorReply();
  if (title) decoder.expectTitleReply();
  DecodedInput out;
  std::size_t fed = 0;
  for (std::size_t at = 0; at < size;) {
    if (data[at] == 0xFF) {
      decoder.flush(out);
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
  const std::size_t markers = fed - decoder.bytesConsumed();
  std::size_t expectedMarkers = 0;
  for (std::size_t i = 0; i < size; ++i) expectedMarkers += data[i] == 0xFF ? 1 : 0;
  require(markers == expectedMarkers);
  require(decoder.bytesWaiting() == 0);
  require(decoder.pendingTimeout() == -1);
  checkPairs(out);
  return 0;
}
