#include "channels/StdChans.h"

#include <gtest/gtest.h>

#include "channels/kDevData.h"
#include "platform/kernel/Files.h"
#include "tests/channels/IOLinkCapture.h"

namespace {

using channel_tests::CatchRaise;
using channel_tests::Kept;

class StdChansTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    K2C_init_exceptions();
    StdChans::BEGIN();
  }
  void TearDown() override { StdChans::SetInChan(StdChans::StdInChan()); }
};

TEST_F(StdChansTest, NullChannelReportsEndOfInputAndAbsorbsOutput) {
  IOChan::ChanId null = StdChans::NullChan();
  EXPECT_EQ(null->flags, ChanConsts::readFlag | ChanConsts::writeFlag);
  char ch = 'x';
  IOConsts::ReadResult res = 0;
  char text[4] = "abc";
  std::uint32_t n = 7;
  auto r = CatchRaise([&] {
    IOChan::Look(null, ch, res);
    EXPECT_EQ(ch, '\0');
    EXPECT_EQ(res, IOConsts::endOfInput);
    IOChan::TextRead(null, text, 4, n);
    IOChan::TextWrite(null, "gone", 4);
    null->rawWrite(null, "gone", 4);
    null->lineWrite(null);
    IOChan::Skip(null);
  });
  EXPECT_FALSE(r.raised) << r.message;
  EXPECT_EQ(n, 0u);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(null->result, IOConsts::endOfInput);
}

TEST_F(StdChansTest, StandardChannelsCarryTheirFlags) {
  EXPECT_EQ(StdChans::StdInChan()->flags, 25);
  EXPECT_EQ(StdChans::StdOutChan()->flags, 26);
  EXPECT_EQ(StdChans::StdErrChan()->flags, 26);
  EXPECT_EQ(StdChans::InChan(), StdChans::StdInChan());
  EXPECT_EQ(StdChans::OutChan(), StdChans::StdOutChan());
  EXPECT_EQ(StdChans::ErrChan(), StdChans::StdErrChan());
  char name[4] = "zzz";
  StdChans::StdOutChan()->getName(StdChans::StdOutChan(), name, sizeof name);
  EXPECT_EQ(name[0], '\0');
}

TEST_F(StdChansTest, SetInChanWithOtherChannelsLeavesTheStandardHandle) {
  win32::HANDLE before = win32::GetStdHandle(win32::STD_INPUT_HANDLE);
  StdChans::SetInChan(StdChans::NullChan());
  EXPECT_EQ(StdChans::InChan(), StdChans::NullChan());
  EXPECT_EQ(win32::GetStdHandle(win32::STD_INPUT_HANDLE), before);
  IOLink::ChanId foreign = Kept(IOLink::MakeChan(Kept(IOLink::AllocateDeviceId())));
  StdChans::SetInChan(foreign);
  EXPECT_EQ(StdChans::InChan(), foreign);
  EXPECT_EQ(win32::GetStdHandle(win32::STD_INPUT_HANDLE), before);
}

TEST_F(StdChansTest, SetInChanWithAStandardChannelSetsTheStandardHandle) {
  win32::HANDLE before = win32::GetStdHandle(win32::STD_INPUT_HANDLE);
  StdChans::SetInChan(StdChans::StdErrChan());
  EXPECT_EQ(win32::GetStdHandle(win32::STD_INPUT_HANDLE),
            kDevData::GetDevData(StdChans::StdErrChan())->file);
  StdChans::SetInChan(StdChans::StdInChan());
  EXPECT_EQ(win32::GetStdHandle(win32::STD_INPUT_HANDLE), before);
}

}  // namespace
