#include "channels/IOChan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/channels/IOLinkCapture.h"

namespace {

using channel_tests::CatchRaise;
using channel_tests::Kept;

// A device whose procedures record what reached them.
struct Recorder {
  static inline std::string calls;
  static void look(IOLink::DeviceTablePtr, char& ch, IOConsts::ReadResult& res) {
    calls += "look;";
    ch = 'L';
    res = IOConsts::allRight;
  }
  static void skip(IOLink::DeviceTablePtr) { calls += "skip;"; }
  static void read(IOLink::DeviceTablePtr, void* to, std::uint32_t max, std::uint32_t& n) {
    calls += "read " + std::to_string(max) + ";";
    std::memcpy(to, "rd", 2);
    n = 2;
  }
  static void write(IOLink::DeviceTablePtr, const void* from, std::uint32_t count) {
    calls += "write " + std::string(static_cast<const char*>(from), count) + ";";
  }
};

class IOChanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    K2C_init_exceptions();
    IOChan::BEGIN();
  }
};

TEST_F(IOChanTest, OperationsCallTheChannelsProcedures) {
  IOLink::ChanId cid = Kept(IOLink::MakeChan(Kept(IOLink::AllocateDeviceId())));
  cid->look = Recorder::look;
  cid->skip = Recorder::skip;
  cid->textRead = Recorder::read;
  cid->textWrite = Recorder::write;
  Recorder::calls.clear();
  char ch = 0;
  IOConsts::ReadResult res = 0;
  IOChan::Look(cid, ch, res);
  IOChan::Skip(cid);
  char buffer[8];
  std::uint32_t n = 0;
  IOChan::TextRead(cid, buffer, 8, n);
  IOChan::TextWrite(cid, "hello", 5);
  EXPECT_EQ(Recorder::calls, "look;skip;read 8;write hello;");
  EXPECT_EQ(ch, 'L');
  EXPECT_EQ(res, IOConsts::allRight);
  EXPECT_EQ(n, 2u);
}

TEST_F(IOChanTest, InvalidChannelRaisesNotAvailableAndHasNoName) {
  IOChan::ChanId invalid = IOChan::InvalidChan();
  ASSERT_NE(invalid, nullptr);
  char ch = 0;
  IOConsts::ReadResult res = 0;
  char buffer[4] = "abc";
  std::uint32_t n = 0;
  EXPECT_EQ(CatchRaise([&] { IOChan::Look(invalid, ch, res); }).message,
            "IOException.notAvailable Look");
  EXPECT_EQ(CatchRaise([&] { IOChan::Skip(invalid); }).message, "IOException.notAvailable Skip");
  EXPECT_EQ(CatchRaise([&] { IOChan::TextRead(invalid, buffer, 4, n); }).message,
            "IOException.notAvailable Read");
  EXPECT_EQ(CatchRaise([&] { IOChan::TextWrite(invalid, "x", 1); }).message,
            "IOException.notAvailable Write");
  invalid->getName(invalid, buffer, sizeof buffer);
  EXPECT_EQ(buffer[0], '\0');
  invalid->flush(invalid);
}

}  // namespace
