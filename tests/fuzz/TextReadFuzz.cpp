// Text reading through a channel, checked against a model of the line-end
// rules: the device delivers the input in chunks of random sizes (as a pipe
// does), and random look, skip, text read and raw read calls take it. In the
// text view every CR directly followed by LF is one LF; nothing else changes.
// Every call must see exactly the next characters of that view, none lost,
// none twice.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "channels/IOChan.h"
#include "channels/IOConsts.h"
#include "channels/IOLink.h"
#include "channels/kDevData.h"
#include "platform/console/Console.h"
#include "platform/kernel/Files.h"
#include "runtime/krExceptions.h"

namespace {

using namespace kDevData;

// The device: each read takes at most the next chunk's size; 0 bytes only at
// the end, as a pipe whose writer is gone.
struct ChunkedInput {
  std::string data;
  std::vector<std::uint32_t> chunkSizes;
  std::size_t at = 0;
  std::size_t nextChunk = 0;
} input;

std::uint32_t chunkedRead(DevData, void* to, std::uint32_t count, std::uint32_t& done) {
  std::uint32_t chunk =
      input.chunkSizes.empty() ? 1 : input.chunkSizes[input.nextChunk++ % input.chunkSizes.size()];
  chunk = std::max<std::uint32_t>(chunk, 1);
  const std::size_t left = input.data.size() - input.at;
  done = static_cast<std::uint32_t>(std::min<std::size_t>({count, chunk, left}));
  std::memcpy(to, input.data.data() + input.at, done);
  input.at += done;
  return 0;
}

std::string textView(const std::string& data) {
  std::string view;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') continue;
    view += data[i];
  }
  return view;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "model mismatch: %s\n", what);
  std::abort();
}

void check(bool condition, const char* what) {
  if (!condition) fail(what);
}

IOLink::ChanId openChannel() {
  static IOLink::ChanId cid = [] {
    K2C_init_exceptions();
    kDevData::BEGIN();
    IOLink::ChanId made = IOLink::MakeChan(IOLink::AllocateDeviceId());
    char* name = nullptr;
    ChanConsts::OpenResult result = 0;
    MakeName(name, "fuzz", 4, result);
    const win32::HANDLE handle = win32::CreateFileA("/dev/null", win32::GENERIC_READ, 0, nullptr,
                                                    win32::OPEN_EXISTING, 0, nullptr);
    Open(made, handle, name, ChanConsts::readFlag | ChanConsts::textFlag | ChanConsts::rawFlag,
         unbuffered, result);
    check(result == ChanConsts::opened, "open");
    return made;
  }();
  DevData d = GetDevData(cid);
  d->lowRead = chunkedRead;
  d->pushCount = 0;
  return cid;
}

// The model's reader over the text view.
struct Model {
  std::string view;
  std::size_t at = 0;
  bool atEnd() const { return at == view.size(); }
};

void lookOnce(IOLink::ChanId cid, Model& m) {
  char ch = 0;
  IOConsts::ReadResult result = IOConsts::notKnown;
  IOChan::Look(cid, ch, result);
  if (m.atEnd()) return check(result == IOConsts::endOfInput, "look at the end");
  check(ch == m.view[m.at], "look's character");
  check(result == (ch == '\n' ? IOConsts::endOfLine : IOConsts::allRight), "look's result");
}

void skipOnce(IOLink::ChanId cid, Model& m) {
  bool raised = false;
  K2C_Protect([&] { IOChan::Skip(cid); }, [&](K2C_HandlerFrame&) { raised = true; });
  check(raised == m.atEnd(), "skip raises exactly at the end");
  if (!m.atEnd()) ++m.at;
}

void textReadOnce(IOLink::ChanId cid, Model& m, std::uint32_t max) {
  std::string got(max, '\0');
  std::uint32_t n = 0;
  IOChan::TextRead(cid, got.data(), max, n);
  std::size_t want = 0;
  while (want < max && m.at + want < m.view.size() && m.view[m.at + want] != '\n') ++want;
  check(n == want, "text read's count");
  check(got.compare(0, n, m.view, m.at, n) == 0, "text read's characters");
  m.at += n;
}

void rawReadOnce(IOLink::ChanId cid, Model& m, std::uint32_t max) {
  std::string got(max, '\0');
  std::uint32_t n = 0;
  cid->rawRead(cid, got.data(), max, n);
  check(n <= max && m.at + n <= m.view.size(), "raw read within the rest");
  if (max > 0 && !m.atEnd()) check(n > 0, "raw read delivers while there is more");
  check(got.compare(0, n, m.view, m.at, n) == 0, "raw read's characters");
  m.at += n;
}

}  // namespace

// The start every program of the system makes, before the first input.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  win32::detail::ConnectConsoleHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  input = ChunkedInput{};
  const std::size_t chunkCount = provider.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < chunkCount; ++i) {
    input.chunkSizes.push_back(provider.ConsumeIntegralInRange<std::uint32_t>(1, 16));
  }
  std::vector<std::uint8_t> ops =
      provider.ConsumeBytes<std::uint8_t>(provider.ConsumeIntegralInRange<std::size_t>(0, 64));
  // The data favours the interesting bytes: CR, LF and one ordinary letter.
  for (std::uint8_t byte : provider.ConsumeRemainingBytes<std::uint8_t>()) {
    input.data += "\r\nab\r\r\n\x1a"[byte % 8];
  }
  IOLink::ChanId cid = openChannel();
  Model model{textView(input.data)};
  for (std::uint8_t op : ops) {
    const std::uint32_t max = op >> 2;
    switch (op & 3) {
      case 0:
        lookOnce(cid, model);
        break;
      case 1:
        skipOnce(cid, model);
        break;
      case 2:
        textReadOnce(cid, model, max % 8);
        break;
      default:
        rawReadOnce(cid, model, max % 8);
        break;
    }
  }
  // Whatever is left comes out whole.
  while (!model.atEnd()) rawReadOnce(cid, model, 5);
  std::uint32_t n = 0;
  char rest[4];
  cid->rawRead(cid, rest, sizeof rest, n);
  check(n == 0, "nothing after the end");
  return 0;
}
