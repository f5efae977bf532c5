// Hardware faults turned into traps at the faulting instruction.
#include <gtest/gtest.h>

#include "tests/runtime/ProbeRunner.h"

namespace {

using runtime_tests::Report;
using runtime_tests::RunProbe;

TEST(HardwareTraps, IntegerDivisionByZeroIsTrap6) {
  auto result = RunProbe("intdiv");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("6: zero or negative divisor"));
}

TEST(HardwareTraps, FloatDivisionByZeroIsTrap8) {
  auto result = RunProbe("floatdiv");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("8: float division by zero"));
}

TEST(HardwareTraps, NullDereferenceIsTrap3) {
  auto result = RunProbe("nil");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("3: invalid location"));
}

TEST(HardwareTraps, HandledFloatTrapLeavesFlagsClearAndTrapsArmed) {
  auto result = RunProbe("floatdiv-handled");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out,
            "caught 8 float division by zero\nflags clear yes\n"
            "caught 8 float division by zero\nflags clear yes\n"
            "main returns\n");
}

TEST(HardwareTraps, HandledFaultUnwindsThroughTheFaultingFunction) {
  auto result = RunProbe("nil-handled");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "destroyed guard\ncaught 3 invalid location\nafter\nmain returns\n");
}

TEST(HardwareTraps, ValuesLiveAcrossTheFaultSurviveIntoTheHandler) {
  auto result = RunProbe("registers");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  // 2 + 21 + 300 + 4000 + 50003 + 600001: a and b changed before the fault,
  // c and d not.
  EXPECT_EQ(result.out, "sum 654327\nmain returns\n");
}

TEST(HardwareTraps, HandledIntegerDivision) {
  auto result = RunProbe("intdiv-handled");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "caught 6 zero or negative divisor\nafter\nmain returns\n");
}

// The main thread's frame belongs to the main thread: a fault on another
// thread with no frame of its own is unhandled.
TEST(HardwareTraps, FaultOnThreadWithoutFrameIsUnhandled) {
  auto result = RunProbe("thread-fault");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("3: invalid location"));
  EXPECT_EQ(result.out.find("main caught"), std::string::npos);
  EXPECT_EQ(result.out.find("joined"), std::string::npos);
}

}  // namespace

namespace {

TEST(HardwareTraps, FaultOnThreadIsCaughtByThatThreadsFrame) {
  auto result = RunProbe("thread-fault-handled");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "destroyed worker guard\nworker caught 3 invalid location\njoined\nmain returns\n");
}

}  // namespace
