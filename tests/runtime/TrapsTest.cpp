// Software traps, assertions, sources and handler frames.
#include <gtest/gtest.h>

#include <string>

#include "runtime/EXCEPTIONS.h"
#include "runtime/Storage.h"
#include "runtime/krExceptions.h"
#include "tests/runtime/ProbeRunner.h"
#include "tests/runtime/ProbeScenarios.h"

namespace {

using runtime_tests::Report;
using runtime_tests::RunProbe;
namespace scenarios = probe_scenario;

struct UnhandledCase {
  const char* scenario;
  const char* report;
};

void PrintTo(const UnhandledCase& c, std::ostream* os) {
  *os << c.scenario;
}

class UnhandledTrap : public testing::TestWithParam<UnhandledCase> {};

TEST_P(UnhandledTrap, IsReportedOnStandardErrorAndEndsWithNine) {
  auto result = RunProbe(GetParam().scenario);
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report(GetParam().report));
  EXPECT_EQ(result.out.find("main returns"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Traps, UnhandledTrap,
    testing::Values(UnhandledCase{scenarios::kIndex, "0: invalid index"},
                    UnhandledCase{scenarios::kRange, "1: expression out of bounds"},
                    UnhandledCase{scenarios::kOverflow, "5: whole overflow"},
                    UnhandledCase{scenarios::kUnderflow, "5: whole overflow"},
                    UnhandledCase{scenarios::kProduct, "5: whole overflow"},
                    UnhandledCase{scenarios::kAssert, "100: ASSERT(FALSE, 100)"},
                    UnhandledCase{scenarios::kTrap15, "15: TRAP(15)"},
                    UnhandledCase{scenarios::kTrap4000000000, "4000000000: TRAP(4000000000)"},
                    UnhandledCase{scenarios::kXRemoveEmpty, "19: RTS internal error"},
                    UnhandledCase{scenarios::kSourceExhausted,
                                  "14: Exception source is not allocated"},
                    UnhandledCase{scenarios::kSplitExhausted, "18: out of heap space"}),
    [](const testing::TestParamInfo<UnhandledCase>& info) {
      std::string name = info.param.scenario;
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name;
    });

TEST(Traps, MessageOfExactly1024CharactersIsKeptWithoutNulAndPrintedWhole) {
  auto result = RunProbe("long-message");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("77: " + std::string(1024, 'm')));
}

TEST(Traps, NestedFramesPassTheSameExceptionOnAndRunDestructors) {
  auto result = RunProbe("nested");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out,
            "destroyed inner guard\n"
            "inner 0 invalid index\n"
            "destroyed outer guard\n"
            "outer 0 invalid index\n"
            "after\n"
            "main returns\n");
}

TEST(Traps, RaisedSourceReachesTheFrameWithNumberAndText) {
  auto result = RunProbe("raise");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "caught 42 custom trouble\nmain returns\n");
}

TEST(TrapMessages, CoverTheNumberedTrapsAndLeaveOthersEmpty) {
  EXPECT_STREQ(K2C_TrapMessage(0), "invalid index");
  EXPECT_STREQ(K2C_TrapMessage(6), "zero or negative divisor");
  EXPECT_STREQ(K2C_TrapMessage(14), "EXCEPTIONS exception");
  EXPECT_STREQ(K2C_TrapMessage(15), "");
  EXPECT_STREQ(K2C_TrapMessage(16), "ASSERT");
  EXPECT_STREQ(K2C_TrapMessage(21), "USER BREAK");
  EXPECT_STREQ(K2C_TrapMessage(22), "call to unloaded DLL");
  EXPECT_STREQ(K2C_TrapMessage(23), "");
}

// Handler frames in this process: only handled raises, no exits.
TEST(HandlerFrames, HandledTrapLeavesTheStackEmptyAgain) {
  int handled = 0;
  for (int i = 0; i < 3; ++i) {
    K2C_Protect([] { K2C_CheckIndex<std::uint32_t>(3, 3); },
                [&](K2C_HandlerFrame& frame) {
                  EXPECT_EQ(frame.state, K2C_FRAME_HANDLING);
                  EXPECT_EQ(frame.source, K2C_rtsSource);
                  ++handled;
                });
  }
  EXPECT_EQ(handled, 3);
  // An empty stack again: a new frame is the only one and completes.
  K2C_HandlerFrame frame;
  K2C_XInitHandler(&frame);
  EXPECT_EQ(frame.next, nullptr);
  K2C_XOFF();
  EXPECT_EQ(frame.state, K2C_FRAME_COMPLETED);
  K2C_XREMOVE();
}

TEST(HandlerFrames, RaiseInsideAHandlerGoesToTheNextOuterFrame) {
  std::string seen;
  K2C_Protect(
      [&] {
        K2C_Protect([] { K2C_CheckIndex<std::uint32_t>(1, 0); },
                    [&](K2C_HandlerFrame&) {
                      seen += "inner;";
                      K2C_TRAP_F(K2C_TRAP_NR_CASE);
                    });
        seen += "not reached;";
      },
      [&](K2C_HandlerFrame& frame) { seen += "outer " + std::to_string(frame.source->number); });
  EXPECT_EQ(seen, "inner;outer 2");
}

TEST(HandlerFrames, CompletedInnerFrameIsSkippedByALaterRaise) {
  std::string seen;
  K2C_Protect(
      [&] {
        K2C_Protect([] {}, [&](K2C_HandlerFrame&) { seen += "inner;"; });
        K2C_ASSERT_F(7);
      },
      [&](K2C_HandlerFrame& frame) {
        seen += frame.source->message;
        EXPECT_EQ(frame.source, K2C_assertSrc);
        EXPECT_EQ(frame.source->number, 7u);
      });
  EXPECT_EQ(seen, "ASSERT(FALSE, 7)");
}

TEST(HandlerFrames, ForeignExceptionLeavesNoFrameBehind) {
  EXPECT_THROW(K2C_Protect([] { throw std::runtime_error("foreign"); }, [](K2C_HandlerFrame&) {}),
               std::runtime_error);
  bool handled = false;
  K2C_Protect([] { K2C_TRAP_F(3); }, [&](K2C_HandlerFrame&) { handled = true; });
  EXPECT_TRUE(handled);
}

TEST(Sources, RaiseCopiesUpToTheCapacityAndTerminates) {
  EXCEPTIONS::ExceptionSource source = nullptr;
  EXCEPTIONS::AllocateSource(source);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->number, 0u);
  EXPECT_STREQ(source->message, "");
  const char text[] = {'a', 'b', 'c', 'd'};  // no NUL: the capacity ends it
  K2C_Protect([&] { EXCEPTIONS::RAISE(source, 9, text, 3); },
              [&](K2C_HandlerFrame& frame) {
                EXPECT_EQ(frame.source, source);
                EXPECT_EQ(frame.source->number, 9u);
                EXPECT_STREQ(frame.source->message, "abc");
              });
  void* record = source;
  K2C_DEALLOCATE(record);
}

TEST(CheckedArithmetic, InRangeResultsPassThrough) {
  EXPECT_EQ(K2C_CheckedAddU32(0xFFFFFFFEu, 1), 0xFFFFFFFFu);
  EXPECT_EQ(K2C_CheckedSubU32(5, 5), 0u);
  EXPECT_EQ(K2C_CheckedMulU32(65536, 65535), 0xFFFF0000u);
  EXPECT_EQ(K2C_CheckIndex<std::uint32_t>(2, 3), 2u);
  EXPECT_EQ(K2C_CheckRange<std::int32_t>(-5, -5, 5), -5);
}

}  // namespace
