#include "channels/IOLink.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "channels/IOChan.h"
#include "runtime/Storage.h"
#include "tests/channels/IOLinkCapture.h"

namespace {

using channel_tests::CatchRaise;
using channel_tests::Kept;

class IOLinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    K2C_init_exceptions();
    IOChan::BEGIN();
  }
  void TearDown() override { K2C_SimulateHeapExhaustion(false); }

  IOLink::DeviceId did = Kept(IOLink::AllocateDeviceId());
  IOLink::ChanId cid = Kept(IOLink::MakeChan(did));
};

TEST_F(IOLinkTest, FreshChannelIsACopyOfTheTemplate) {
  ASSERT_NE(cid, IOChan::InvalidChan());
  EXPECT_EQ(cid->deviceData, nullptr);
  EXPECT_EQ(cid->deviceId, did);
  EXPECT_EQ(cid->channel, cid);
  EXPECT_EQ(cid->result, IOConsts::notKnown);
  EXPECT_EQ(cid->errorNumber, 0);
  EXPECT_EQ(cid->flags, 0);
  char name[8] = "xxxxxxx";
  cid->getName(cid, name, sizeof name);
  EXPECT_EQ(name[0], '\0');
  cid->reset(cid);
  cid->flush(cid);
  cid->free(cid);
}

TEST_F(IOLinkTest, DefaultProceduresRaiseNotAvailableWithTheirWord) {
  char ch = 0;
  IOConsts::ReadResult res = 0;
  char buffer[4];
  std::uint32_t n = 0;
  const std::pair<std::string, std::function<void()>> cases[] = {
      {"Look", [&] { cid->look(cid, ch, res); }},
      {"Look", [&] { cid->skipLook(cid, ch, res); }},
      {"Skip", [&] { cid->skip(cid); }},
      {"Skip", [&] { cid->lineWrite(cid); }},
      {"Read", [&] { cid->textRead(cid, buffer, 4, n); }},
      {"Read", [&] { cid->rawRead(cid, buffer, 4, n); }},
      {"Write", [&] { cid->textWrite(cid, "ab", 2); }},
      {"Write", [&] { cid->rawWrite(cid, "ab", 2); }},
  };
  for (const auto& [word, operation] : cases) {
    auto r = CatchRaise(operation);
    EXPECT_TRUE(r.raised) << word;
    EXPECT_EQ(r.number, IOLink::notAvailable);
    EXPECT_EQ(r.message, "IOException.notAvailable " + word);
  }
}

TEST_F(IOLinkTest, IsDeviceComparesIdentities) {
  EXPECT_TRUE(IOLink::IsDevice(cid, did));
  EXPECT_FALSE(IOLink::IsDevice(cid, Kept(IOLink::AllocateDeviceId())));
  EXPECT_FALSE(IOLink::IsDevice(nullptr, did));
}

TEST_F(IOLinkTest, DeviceTablePtrValueChecksTheDevice) {
  EXPECT_EQ(IOLink::DeviceTablePtrValue(cid, did), cid);
  auto r = CatchRaise([&] {
    IOLink::DeviceTablePtrValue(cid, Kept(IOLink::AllocateDeviceId()), IOLink::hardDeviceError,
                                "zzz");
  });
  EXPECT_EQ(r.number, IOLink::wrongDevice);
  EXPECT_EQ(r.message, "IOException.wrongDevice IOLink.DeviceTablePtrValue");
}

TEST_F(IOLinkTest, RaiseDevExceptionOnTheRightAndWrongDevice) {
  auto r = CatchRaise([&] { IOLink::RAISEdevException(cid, did, IOLink::hardDeviceError, "t"); });
  EXPECT_EQ(r.number, IOLink::hardDeviceError);
  EXPECT_EQ(r.message, "IOException.hardDeviceError t");

  r = CatchRaise([&] { IOLink::RAISEdevException(cid, did, IOLink::skipAtEnd, ""); });
  EXPECT_EQ(r.message, "IOException.skipAtEnd");

  r = CatchRaise([&] {
    IOLink::RAISEdevException(cid, Kept(IOLink::AllocateDeviceId()), IOLink::hardDeviceError, "t");
  });
  EXPECT_EQ(r.number, IOLink::wrongDevice);
  EXPECT_EQ(r.message, "IOException.wrongDevice IOLink.RAISEdevException");
}

TEST_F(IOLinkTest, EveryKindHasItsName) {
  const char* names[] = {"wrongDevice",     "notAvailable",   "skipAtEnd",  "softDeviceError",
                         "hardDeviceError", "textParseError", "notAChannel"};
  for (std::uint32_t x = 0; x < 7; ++x) {
    auto r = CatchRaise([&] { IOLink::RAISEdevException(cid, did, x, ""); });
    EXPECT_EQ(r.number, x);
    EXPECT_EQ(r.message, std::string("IOException.") + names[x]);
  }
}

TEST_F(IOLinkTest, TextIsCutAtTheMessageBuffer) {
  const std::string prefix = "IOException.hardDeviceError ";
  const std::string longText(300, 'x');
  auto r =
      CatchRaise([&] { IOLink::RAISEdevException(cid, did, IOLink::hardDeviceError, longText); });
  ASSERT_EQ(r.message.size(), IOLink::messageCapacity);
  EXPECT_EQ(r.message, prefix + longText.substr(0, IOLink::messageCapacity - prefix.size()));

  // A text that ends at its NUL before the length given.
  const char withNul[] = "ab\0cd";
  r = CatchRaise([&] { IOLink::RAISEdevException(cid, did, IOLink::hardDeviceError, withNul, 5); });
  EXPECT_EQ(r.message, prefix + "ab");
}

TEST_F(IOLinkTest, NumberOutsideTheKindsIsAnInvalidCaseTrap) {
  auto r = CatchRaise([&] { IOLink::RAISEdevException(cid, did, 7, "x"); });
  EXPECT_EQ(r.number, K2C_TRAP_NR_CASE);
  EXPECT_EQ(r.message, "invalid case in CASE statement");
}

TEST_F(IOLinkTest, ExhaustedHeapGivesTheInvalidChannelAndANullIdentity) {
  K2C_SimulateHeapExhaustion(true);
  EXPECT_EQ(IOLink::AllocateDeviceId(), nullptr);
  IOLink::ChanId lost = IOLink::MakeChan(did);
  K2C_SimulateHeapExhaustion(false);
  ASSERT_EQ(lost, IOChan::InvalidChan());
  char ch = 0;
  IOConsts::ReadResult res = 0;
  EXPECT_EQ(CatchRaise([&] { IOChan::Look(lost, ch, res); }).message,
            "IOException.notAvailable Look");
  EXPECT_EQ(CatchRaise([&] { IOChan::TextWrite(lost, "a", 1); }).message,
            "IOException.notAvailable Write");
}

}  // namespace
