#include "channels/kDevData.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "channels/IOChan.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "runtime/Storage.h"
#include "tests/channels/IOLinkCapture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPipe.h"

namespace {

using channel_tests::CatchRaise;
using channel_tests::Kept;
using namespace kDevData;

// ---- A device double for the mode procedures ---------------------------------

// Each lowRead call delivers at most the front chunk; each lowWrite call is
// kept as one piece.
struct Device {
  static inline std::deque<std::string> chunks;
  static inline std::vector<std::string> pieces;
  static inline std::uint32_t acceptLimit = ~0u;  // bytes a write takes at most
  static inline int flushes = 0;

  static std::uint32_t read(DevData, void* to, std::uint32_t count, std::uint32_t& done) {
    done = 0;
    if (chunks.empty()) return 0;
    std::string& front = chunks.front();
    done = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(front.size()));
    std::memcpy(to, front.data(), done);
    front.erase(0, done);
    if (front.empty()) chunks.pop_front();
    return 0;
  }
  static std::uint32_t write(DevData, const void* from, std::uint32_t count, std::uint32_t& done) {
    done = std::min(count, acceptLimit);
    pieces.emplace_back(static_cast<const char*>(from), count);
    return 0;
  }
  static std::uint32_t flush(DevData) {
    ++flushes;
    return 0;
  }
};

class ModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Device::chunks.clear();
    Device::pieces.clear();
    Device::acceptLimit = ~0u;
    Device::flushes = 0;
    rec.lowRead = Device::read;
    rec.lowWrite = Device::write;
    rec.bufFlush = Device::flush;
  }
  std::string textRead(std::uint32_t count) {
    std::string out(count, '\0');
    std::uint32_t n = 0;
    EXPECT_EQ(TextModeRead(&rec, out.data(), count, n), 0u);
    out.resize(n);
    return out;
  }
  DevDataRec rec{};
};

TEST_F(ModeTest, TextReadCollapsesLineEndsAndFillsTheRequest) {
  Device::chunks = {"x\r\ny"};
  EXPECT_EQ(textRead(3), "x\ny");
  Device::chunks = {"0123\r\n4567890"};
  EXPECT_EQ(textRead(10), "0123\n45678");
  EXPECT_EQ(textRead(10), "90");
}

TEST_F(ModeTest, TextReadCollapsesAPairSplitBetweenTwoReads) {
  Device::chunks = {"ab\r", "\ncd"};  // a short read ending in CR
  EXPECT_EQ(textRead(10), "ab\n");
  EXPECT_EQ(textRead(10), "cd");
  Device::chunks = {"ab\r", "\ncd"};  // a filled read ending in CR
  EXPECT_EQ(textRead(3), "ab\n");
  Device::chunks = {"ab\r\ncd\r", "\nef"};  // a pair split across the refill
  EXPECT_EQ(textRead(7), "ab\ncd\ne");
}

TEST_F(ModeTest, TextReadKeepsALoneCr) {
  Device::chunks = {"a\r"};
  EXPECT_EQ(textRead(10), "a\r");
  Device::chunks = {"a\rb"};
  EXPECT_EQ(textRead(2), "a\r");
  EXPECT_EQ(textRead(5), "b");
}

TEST_F(ModeTest, UnreadLineEndComesBackAsOneLineEnd) {
  TextModeUnread(&rec, '\n');
  EXPECT_EQ(rec.pushCount, 2u);
  EXPECT_EQ(textRead(1), "\n");
  TextModeUnread(&rec, 'q');
  Device::chunks = {"rs"};
  EXPECT_EQ(textRead(3), "qrs");
}

TEST_F(ModeTest, RawReadDeliversPushbackNewestFirst) {
  RawModeUnread(&rec, 'b');
  RawModeUnread(&rec, 'a');
  Device::chunks = {"cd"};
  char out[4];
  std::uint32_t n = 0;
  EXPECT_EQ(RawModeRead(&rec, out, 4, n), 0u);
  EXPECT_EQ(std::string(out, n), "abcd");
}

TEST_F(ModeTest, StandardStreamFlushesBeforeReads) {
  rec.state = stateStdStream;
  Device::chunks = {"z"};
  textRead(1);
  EXPECT_EQ(Device::flushes, 1);
}

TEST_F(ModeTest, TextWriteTurnsLineEndsIntoCrLfInPiecesOf256) {
  std::string lineEnds(300, '\n');
  std::uint32_t written = 0;
  EXPECT_EQ(TextModeWrite(&rec, lineEnds.data(), 300, written), 0u);
  EXPECT_EQ(written, 300u);
  ASSERT_EQ(Device::pieces.size(), 3u);
  EXPECT_EQ(Device::pieces[0].size(), 256u);
  EXPECT_EQ(Device::pieces[1].size(), 256u);
  EXPECT_EQ(Device::pieces[2].size(), 88u);
  std::string all = Device::pieces[0] + Device::pieces[1] + Device::pieces[2];
  for (std::size_t i = 0; i < all.size(); i += 2) ASSERT_EQ(all.substr(i, 2), "\r\n");
}

TEST_F(ModeTest, TextWriteIsOneDeviceWriteAndFlushesAStandardStreamAtALineEnd) {
  std::uint32_t written = 0;
  rec.state = stateStdStream;
  EXPECT_EQ(TextModeWrite(&rec, "ab", 2, written), 0u);
  EXPECT_EQ(Device::flushes, 0);
  EXPECT_EQ(TextModeWrite(&rec, "a\nb", 3, written), 0u);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(Device::pieces.back(), "a\r\nb");
  EXPECT_EQ(Device::flushes, 1);
}

TEST_F(ModeTest, TextWriteReportsAPieceTheDeviceTookOnlyInPart) {
  Device::acceptLimit = 10;
  rec.state = stateStdStream;
  for (std::uint32_t length : {300u, 12u}) {  // staged in pieces, and in one
    SCOPED_TRACE(length);
    std::string text(length, '\n');
    std::uint32_t written = 0;
    EXPECT_EQ(TextModeWrite(&rec, text.data(), length, written), 0u);
    EXPECT_EQ(written, 0u);         // the first piece was not taken whole
    EXPECT_EQ(Device::flushes, 0);  // nor written out
  }
}

TEST_F(ModeTest, WritesDropPushback) {
  RawModeUnread(&rec, 'a');
  std::uint32_t written = 0;
  RawModeWrite(&rec, "x", 1, written);
  EXPECT_EQ(rec.pushCount, 0u);
  EXPECT_EQ(Device::pieces.back(), "x");  // raw: no conversion
}

// ---- Buffering on a real file ------------------------------------------------

// A file of the test's own, open for reading and writing through a handle.
// The test reads it back by name while the handle is open, which Windows
// allows only to a handle that shares reading and writing.
class TempFile {
 public:
  explicit TempFile(const std::string& content = "") : path_(dir_.file("data")) {
    if (!content.empty()) std::ofstream(path_, std::ios::binary) << content;
    handle_ = win32::CreateFileA(path_.c_str(), win32::GENERIC_READ | win32::GENERIC_WRITE,
                                 win32::FILE_SHARE_READ | win32::FILE_SHARE_WRITE, nullptr,
                                 win32::OPEN_ALWAYS, 0, nullptr);
  }
  // Closed before its directory goes: Windows removes no open file.
  ~TempFile() { win32::CloseHandle(handle_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  win32::HANDLE handle() const { return handle_; }
  long size() const { return static_cast<long>(std::filesystem::file_size(path_)); }
  long position() const {
    return static_cast<long>(win32::SetFilePointer(handle_, 0, nullptr, win32::FILE_CURRENT));
  }
  std::string content() const { return testing_support::ReadFile(path_); }

 private:
  testing_support::TempDir dir_;
  std::string path_;
  win32::HANDLE handle_ = nullptr;
};

class ChannelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    K2C_init_exceptions();
    kDevData::BEGIN();
  }
  void TearDown() override { K2C_SimulateHeapExhaustion(false); }

  // A fresh channel of a device of the test's own, opened on the handle.
  IOLink::ChanId open(win32::HANDLE handle, ChanConsts::ChanFlags flags, std::uint32_t mode,
                      const char* name = "") {
    IOLink::ChanId cid = IOLink::MakeChan(did);
    char* stored = nullptr;
    ChanConsts::OpenResult result = 0;
    MakeName(stored, name, std::strlen(name), result);
    Open(cid, handle, stored, flags, mode, result);
    EXPECT_EQ(result, ChanConsts::opened);
    return cid;
  }

  IOLink::DeviceId did = Kept(IOLink::AllocateDeviceId());
  static constexpr ChanConsts::ChanFlags textIn = ChanConsts::readFlag | ChanConsts::textFlag;
  static constexpr ChanConsts::ChanFlags textOut = ChanConsts::writeFlag | ChanConsts::textFlag;
};

TEST_F(ChannelTest, OpenChoosesBufferingByTheKindOfHandle) {
  TempFile file;
  DevData d = GetDevData(open(file.handle(), textOut, standardStream));
  EXPECT_NE(d->buffer, nullptr);
  EXPECT_EQ(d->state, stateDisk | stateStdStream);
  EXPECT_EQ(d->lowRead, DirectRead);
  EXPECT_EQ(d->lowWrite, BufferedWrite);
  EXPECT_EQ(d->bufFlush, FlushBuffer);

  d = GetDevData(open(file.handle(), textIn, 0));
  EXPECT_EQ(d->lowRead, BufferedRead);
  EXPECT_EQ(d->state, stateDisk);

  testing_support::PipeHandles pipe;
  ASSERT_TRUE(testing_support::MakePipe(pipe));
  d = GetDevData(open(pipe.write, textOut, standardStream));
  EXPECT_EQ(d->buffer, nullptr);
  EXPECT_EQ(d->lowWrite, DirectWrite);
  EXPECT_EQ(d->bufFlush, DropPushback);
  EXPECT_EQ(d->state, 0u);  // unbuffered: not a standard stream
  win32::CloseHandle(pipe.read);
}

TEST_F(ChannelTest, StandardStreamOnAFileWaitsForALineEndOrARead) {
  TempFile file;
  IOLink::ChanId cid = open(file.handle(), textOut | ChanConsts::readFlag, standardStream);
  IOChan::TextWrite(cid, "abc", 3);
  EXPECT_EQ(file.size(), 0);
  char ch = 0;
  IOConsts::ReadResult res = 0;
  IOChan::Look(cid, ch, res);  // a read on the channel writes the buffer out
  EXPECT_EQ(file.content(), "abc");
  IOChan::TextWrite(cid, "d\ne", 3);
  EXPECT_EQ(file.content(), "abcd\r\ne");
}

TEST_F(ChannelTest, ThreeHundredBytesWithoutLineEnd) {
  TempFile file;
  IOLink::ChanId cid = open(file.handle(), textOut, standardStream);
  std::string text(300, 'x');
  IOChan::TextWrite(cid, text.data(), 300);
  EXPECT_EQ(file.size(), 256);
  EXPECT_EQ(GetDevData(cid)->bufLen, 44u);
  cid->flush(cid);
  EXPECT_EQ(file.content(), text);
}

// Text written to a buffered file channel reaches the buffer converted,
// whether it fits in the room left or has to be staged and split.
struct BufferedTextCase {
  const char* name;
  std::uint32_t before;  // bytes written (without line ends) first
  std::string text;
  long fileSize;         // after the text, before the flush
  std::uint32_t bufLen;  // likewise
};

// The row's name, where the test list would show its bytes.
void PrintTo(const BufferedTextCase& c, std::ostream* os) {
  *os << c.name;
}

class BufferedTextWrite : public ChannelTest,
                          public ::testing::WithParamInterface<BufferedTextCase> {};

std::string crLf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

TEST_P(BufferedTextWrite, ConvertsIntoTheBufferAndWritesItOutWhenFull) {
  const BufferedTextCase& c = GetParam();
  TempFile file;
  IOLink::ChanId cid = open(file.handle(), textOut, bufferedFile);
  const std::string first(c.before, '-');
  IOChan::TextWrite(cid, first.data(), c.before);
  IOChan::TextWrite(cid, c.text.data(), static_cast<std::uint32_t>(c.text.size()));
  EXPECT_EQ(file.size(), c.fileSize);
  EXPECT_EQ(GetDevData(cid)->bufLen, c.bufLen);
  EXPECT_NE(GetDevData(cid)->state & stateDirty, 0u);
  cid->flush(cid);
  EXPECT_EQ(file.content(), first + crLf(c.text));
}

const BufferedTextCase kBufferedTexts[] = {
    {"ShortTextIntoAnEmptyBuffer", 0, "a\nb", 0, 4},
    {"LineEndsFirstLastAndSideBySide", 3, "\nab\n\ncd\n", 0, 15},
    {"LineEndsFillingTheBufferExactly", 0, std::string(128, '\n'), 0, 256},
    {"ShortTextBeyondTheRoomLeft", 252, "xy\nz", 256, 1},
    {"LongTextBeyondTheRoomLeft", 200, std::string(129, 'q') + "\n", 256, 75},
};

INSTANTIATE_TEST_SUITE_P(ChannelTest, BufferedTextWrite, ::testing::ValuesIn(kBufferedTexts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChannelTest, BufferedReadAndCleanFlushKeepThePosition) {
  std::string content;
  for (int i = 0; i < 1000; ++i) content += static_cast<char>('a' + i % 26);
  TempFile file(content);
  IOLink::ChanId cid = open(file.handle(), ChanConsts::readFlag | ChanConsts::rawFlag, 1);
  char out[700];
  std::uint32_t n = 0;
  cid->rawRead(cid, out, 10, n);
  EXPECT_EQ(std::string(out, n), content.substr(0, 10));
  EXPECT_EQ(file.position(), 256);  // read ahead into the buffer
  EXPECT_EQ(FlushBuffer(GetDevData(cid)), 0u);
  EXPECT_EQ(file.position(), 256);  // a clean buffer is only emptied
  cid->rawRead(cid, out, 700, n);
  EXPECT_EQ(std::string(out, n), content.substr(256, 700));
}

TEST_F(ChannelTest, BufferedFileWritesGoBackToTheirPosition) {
  TempFile file(std::string(10, '-'));
  IOLink::ChanId cid = open(file.handle(), ChanConsts::writeFlag | ChanConsts::rawFlag, 1);
  cid->rawWrite(cid, "ab", 2);
  cid->flush(cid);
  EXPECT_EQ(file.content(), "ab--------");
}

TEST_F(ChannelTest, AFlushThatFailedHalfWayWritesOnlyTheRestWhenTriedAgain) {
#ifdef _WIN32
  GTEST_SKIP() << "the write is cut short by a file-size limit, which Windows has not";
#else
  TempFile file;
  // A standard stream: written where the handle stands, without going back.
  IOLink::ChanId cid =
      open(file.handle(), ChanConsts::writeFlag | ChanConsts::rawFlag, standardStream);
  cid->rawWrite(cid, "0123456789", 10);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small{4, old.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &small);
  auto r = CatchRaise([&] { cid->flush(cid); });
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(r.message, "IOException.hardDeviceError 00000070H");
  EXPECT_EQ(file.content(), "0123");
  cid->flush(cid);
  EXPECT_EQ(file.content(), "0123456789");
#endif
}

TEST_F(ChannelTest, LookSkipAndTextReadOnALineEnd) {
  TempFile file("\r\nx");
  IOLink::ChanId cid = open(file.handle(), textIn, unbuffered);
  char ch = 0;
  IOConsts::ReadResult res = 0;
  IOChan::Look(cid, ch, res);
  EXPECT_EQ(res, IOConsts::endOfLine);
  EXPECT_EQ(ch, '\n');
  char text[4];
  std::uint32_t n = 9;
  IOChan::TextRead(cid, text, 4, n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(cid->result, IOConsts::endOfLine);
  IOChan::Skip(cid);
  IOChan::TextRead(cid, text, 4, n);
  EXPECT_EQ(std::string(text, n), "x");
  EXPECT_EQ(cid->result, IOConsts::allRight);
}

TEST_F(ChannelTest, TextReadStopsAtItsMaximum) {
  TempFile file("abcd");
  IOLink::ChanId cid = open(file.handle(), textIn, unbuffered);
  char text[4];
  std::uint32_t n = 0;
  IOChan::TextRead(cid, text, 3, n);
  EXPECT_EQ(std::string(text, n), "abc");
  EXPECT_EQ(cid->result, IOConsts::allRight);
  IOChan::TextRead(cid, text, 3, n);
  EXPECT_EQ(std::string(text, n), "d");
  IOChan::TextRead(cid, text, 0, n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(cid->result, IOConsts::allRight);
}

TEST_F(ChannelTest, EmptyInputAndSkipAtEnd) {
  TempFile file;
  IOLink::ChanId cid = open(file.handle(), textIn | ChanConsts::rawFlag, unbuffered);
  char text[4];
  std::uint32_t n = 9;
  IOChan::TextRead(cid, text, 4, n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(cid->result, IOConsts::endOfInput);
  cid->rawRead(cid, text, 4, n);
  EXPECT_EQ(cid->result, IOConsts::endOfInput);
  auto r = CatchRaise([&] { IOChan::Skip(cid); });
  EXPECT_EQ(r.number, IOLink::skipAtEnd);
  EXPECT_EQ(r.message, "IOException.skipAtEnd");
}

TEST_F(ChannelTest, FailedLookIsEndOfInputWithoutException) {
  win32::HANDLE stale = win32::CreateFileA(testing_support::kNullDevice, win32::GENERIC_READ, 0,
                                           nullptr, win32::OPEN_EXISTING, 0, nullptr);
  win32::CloseHandle(stale);  // every read on it fails with an invalid handle
  IOLink::ChanId cid = open(stale, textIn, unbuffered);
  char ch = 'k';
  IOConsts::ReadResult res = 0;
  auto r = CatchRaise([&] { IOChan::Look(cid, ch, res); });
  EXPECT_FALSE(r.raised);
  EXPECT_EQ(res, IOConsts::endOfInput);
  EXPECT_EQ(ch, 'k');
  char text[2];
  std::uint32_t n = 0;
  r = CatchRaise([&] { IOChan::TextRead(cid, text, 2, n); });
  EXPECT_EQ(r.number, IOLink::hardDeviceError);
  EXPECT_EQ(r.message, "IOException.hardDeviceError 00000006H");
}

TEST_F(ChannelTest, WriteToAPipeWithoutReaderIsAHardDeviceError) {
  testing_support::PipeHandles pipe;
  ASSERT_TRUE(testing_support::MakePipe(pipe));
  win32::CloseHandle(pipe.read);
  IOLink::ChanId cid = open(pipe.write, textOut, standardStream);
  // The device passes the system's code on. WriteFile's documentation names
  // ERROR_BROKEN_PIPE (109) for an anonymous pipe whose reader is gone, and
  // the Linux platform gives that; Windows itself fails the write with
  // ERROR_NO_DATA (232), "the pipe is being closed".
#ifdef _WIN32
  const char* expected = "IOException.hardDeviceError 000000E8H";
  const int code = 232;
#else
  const char* expected = "IOException.hardDeviceError 0000006DH";
  const int code = 109;
#endif
  auto r = CatchRaise([&] { IOChan::TextWrite(cid, "x\n", 2); });
  EXPECT_EQ(r.number, IOLink::hardDeviceError);
  EXPECT_EQ(r.message, expected);
  EXPECT_EQ(cid->errorNumber, code);
  r = CatchRaise([&] { cid->lineWrite(cid); });
  EXPECT_EQ(r.message, expected);
}

TEST_F(ChannelTest, CrLfSplitBetweenTwoPipeWritesBecomesOneLineEnd) {
  testing_support::PipeHandles pipe;
  ASSERT_TRUE(testing_support::MakePipe(pipe));
  IOLink::ChanId cid = open(pipe.read, textIn, standardStream);
  std::thread writer([&] {
    win32::DWORD written = 0;
    win32::WriteFile(pipe.write, "a\r", 2, &written, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    win32::WriteFile(pipe.write, "\nb", 2, &written, nullptr);
    win32::CloseHandle(pipe.write);
  });
  char text[10];
  std::uint32_t n = 0;
  IOChan::TextRead(cid, text, 10, n);
  EXPECT_EQ(std::string(text, n), "a");
  char ch = 0;
  IOConsts::ReadResult res = 0;
  IOChan::Look(cid, ch, res);
  EXPECT_EQ(res, IOConsts::endOfLine);
  IOChan::Skip(cid);
  IOChan::TextRead(cid, text, 10, n);
  EXPECT_EQ(std::string(text, n), "b");
  writer.join();
}

TEST_F(ChannelTest, MissingProceduresKeepTheTemplate) {
  TempFile file("abc");
  IOLink::ChanId cid = open(file.handle(), textIn, unbuffered);
  char text[4];
  std::uint32_t n = 0;
  EXPECT_EQ(CatchRaise([&] { cid->rawRead(cid, text, 4, n); }).message,
            "IOException.notAvailable Read");
  EXPECT_EQ(CatchRaise([&] { IOChan::TextWrite(cid, "a", 1); }).message,
            "IOException.notAvailable Write");
}

TEST_F(ChannelTest, GetNameCopiesTheStoredName) {
  TempFile file;
  IOLink::ChanId cid = open(file.handle(), textIn, unbuffered, "abcdef");
  char name[8] = "zzzzzzz";
  cid->getName(cid, name, 3);
  EXPECT_EQ(std::string(name, 4), "abcz");  // full: no NUL
  cid->getName(cid, name, sizeof name);
  EXPECT_STREQ(name, "abcdef");
  IOLink::ChanId unnamed = open(file.handle(), textIn, unbuffered, "");
  unnamed->getName(unnamed, name, 1);
  EXPECT_EQ(name[0], '\0');
}

TEST_F(ChannelTest, ExhaustedHeapGivesOutOfChans) {
  TempFile file;
  IOLink::ChanId cid = Kept(IOLink::MakeChan(did));
  ChanConsts::OpenResult result = 0;
  Open(cid, file.handle(), nullptr, textIn, unbuffered, result);
  EXPECT_EQ(result, ChanConsts::outOfChans);
  EXPECT_EQ(cid->deviceData, nullptr);

  char* name = nullptr;
  MakeName(name, "n", 1, result);
  Kept(name);
  K2C_SimulateHeapExhaustion(true);
  Open(cid, file.handle(), name, textIn, unbuffered, result);
  EXPECT_EQ(result, ChanConsts::outOfChans);
  char* lost = reinterpret_cast<char*>(1);
  MakeName(lost, "n", 1, result);
  K2C_SimulateHeapExhaustion(false);
  EXPECT_EQ(result, ChanConsts::outOfChans);
  EXPECT_EQ(lost, nullptr);
  char text[2];
  std::uint32_t n = 0;
  EXPECT_EQ(CatchRaise([&] { IOChan::TextRead(cid, text, 2, n); }).message,
            "IOException.notAvailable Read");
}

TEST_F(ChannelTest, ErrorsCarryTheCodeInHexadecimal) {
  TempFile file;
  IOLink::ChanId cid = open(file.handle(), textIn, unbuffered);
  auto r = CatchRaise([&] { HardError(cid, 6); });
  EXPECT_EQ(r.message, "IOException.hardDeviceError 00000006H");
  EXPECT_EQ(cid->errorNumber, 6);
  r = CatchRaise([&] { SoftError(cid, 0xABCDEF12); });
  EXPECT_EQ(r.number, IOLink::softDeviceError);
  EXPECT_EQ(r.message, "IOException.softDeviceError ABCDEF12H");
}

// Standard input from a pipe that has ended: the end of input, not a device
// error, however the channel reads it.
TEST_F(ChannelTest, APipeWhoseWriterIsGoneIsTheEndOfInput) {
  testing_support::PipeHandles pipe;
  ASSERT_TRUE(testing_support::MakePipe(pipe));
  win32::DWORD written = 0;
  win32::WriteFile(pipe.write, "ab", 2, &written, nullptr);
  win32::CloseHandle(pipe.write);
  IOLink::ChanId cid = open(pipe.read, textIn | ChanConsts::rawFlag, standardStream);
  char text[10];
  std::uint32_t n = 0;
  IOChan::TextRead(cid, text, 10, n);
  EXPECT_EQ(std::string(text, n), "ab");
  EXPECT_EQ(cid->result, IOConsts::allRight);
  auto r = CatchRaise([&] { IOChan::TextRead(cid, text, 10, n); });
  EXPECT_FALSE(r.raised);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(cid->result, IOConsts::endOfInput);
  char ch = 'k';
  IOConsts::ReadResult res = 0;
  IOChan::Look(cid, ch, res);
  EXPECT_EQ(res, IOConsts::endOfInput);
  r = CatchRaise([&] { cid->rawRead(cid, text, 10, n); });
  EXPECT_FALSE(r.raised);
  EXPECT_EQ(cid->result, IOConsts::endOfInput);
  r = CatchRaise([&] { IOChan::Skip(cid); });
  EXPECT_EQ(r.number, IOLink::skipAtEnd);
}

}  // namespace
