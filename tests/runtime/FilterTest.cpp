// The fault filter on made-up exception records and contexts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "runtime/kosFileIO.h"
#include "tests/support/DirectOutputCapture.h"
#include "platform/kernel/Exceptions.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "runtime/krExceptions.h"

namespace {

constexpr win32::DWORD64 kFaultRip = 0x401234;

// A stack of its own on the heap, so that the filter treats it as the
// faulting thread's stack and not as its own.
struct FakeFault {
  std::vector<win32::DWORD64> stack = std::vector<win32::DWORD64>(4096);
  win32::EXCEPTION_RECORD record{};
  win32::CONTEXT context{};
  win32::EXCEPTION_POINTERS pointers{&record, &context};

  explicit FakeFault(win32::DWORD code) {
    record.ExceptionCode = code;
    context.ContextFlags = win32::CONTEXT_CONTROL | win32::CONTEXT_INTEGER;
    context.Rip = kFaultRip;
    context.Rsp = reinterpret_cast<win32::DWORD64>(&stack[3000]) + 8;  // odd alignment on purpose
    context.MxCsr = 0x1F80;
  }
  win32::LONG filter() { return K2C_xFilter(&pointers); }
};

// The x87 error offset a fault would have left: a field of its own in the
// Linux platform's context, spread over the save area's ErrorOffset,
// ErrorSelector and Reserved1 in Windows'.
void setFpuErrorOffset(win32::CONTEXT& context, win32::DWORD64 offset) {
#ifdef _WIN32
  context.FltSave.ErrorOffset = static_cast<win32::DWORD>(offset);
  context.FltSave.ErrorSelector = static_cast<win32::WORD>(offset >> 32);
  context.FltSave.Reserved1 = static_cast<win32::WORD>(offset >> 48);
#else
  context.FpuErrorOffset = offset;
#endif
}

struct Mapping {
  win32::DWORD code;
  std::uint32_t trap;
};

TEST(FaultFilter, MapsExceptionCodesToTrapsAndRedirects) {
  const Mapping mappings[] = {
      {win32::EXCEPTION_ACCESS_VIOLATION, 3},     {win32::EXCEPTION_ARRAY_BOUNDS_EXCEEDED, 0},
      {win32::EXCEPTION_FLT_DENORMAL_OPERAND, 7}, {win32::EXCEPTION_FLT_DIVIDE_BY_ZERO, 8},
      {win32::EXCEPTION_FLT_INEXACT_RESULT, 7},   {win32::EXCEPTION_FLT_INVALID_OPERATION, 7},
      {win32::EXCEPTION_FLT_OVERFLOW, 7},         {win32::EXCEPTION_FLT_STACK_CHECK, 7},
      {win32::EXCEPTION_FLT_UNDERFLOW, 7},        {win32::EXCEPTION_INT_DIVIDE_BY_ZERO, 6},
      {win32::EXCEPTION_INT_OVERFLOW, 5},
  };
  for (const Mapping& mapping : mappings) {
    FakeFault fault(mapping.code);
    win32::DWORD64 faultRsp = fault.context.Rsp;
    ASSERT_EQ(fault.filter(), win32::EXCEPTION_CONTINUE_EXECUTION) << std::hex << mapping.code;
    EXPECT_EQ(fault.context.Rax, mapping.trap);
    EXPECT_EQ(fault.context.Rdx, kFaultRip);
    EXPECT_EQ(fault.context.Rip, reinterpret_cast<win32::DWORD64>(&K2C_TrapFJump));
    // Below the red zone, 16-aligned, with the fault's Rip and Rsp for the
    // unwinder.
    EXPECT_LE(fault.context.Rsp + 128 + 16, faultRsp);
    EXPECT_EQ(fault.context.Rsp % 16, 0u);
    auto* slots = reinterpret_cast<win32::DWORD64*>(fault.context.Rsp);
    EXPECT_EQ(slots[0], kFaultRip);
    EXPECT_EQ(slots[1], faultRsp);
  }
}

TEST(FaultFilter, FloatTrapsTakeTheX87ErrorOffsetUnlessSseFaulted) {
  constexpr win32::DWORD64 kX87Instruction = 0x405678;
  FakeFault x87(win32::EXCEPTION_FLT_DIVIDE_BY_ZERO);
  x87.context.ContextFlags |= win32::CONTEXT_FLOATING_POINT;
  setFpuErrorOffset(x87.context, kX87Instruction);
  x87.context.MxCsr = 0x1900;  // armed, no flag raised
  ASSERT_EQ(x87.filter(), win32::EXCEPTION_CONTINUE_EXECUTION);
  EXPECT_EQ(x87.context.Rdx, kX87Instruction);

  FakeFault sse(win32::EXCEPTION_FLT_DIVIDE_BY_ZERO);
  sse.context.ContextFlags |= win32::CONTEXT_FLOATING_POINT;
  setFpuErrorOffset(sse.context, kX87Instruction);  // stale
  sse.context.MxCsr = 0x1900 | 0x4;                 // zero-divide flag under its unmasked bit
  ASSERT_EQ(sse.filter(), win32::EXCEPTION_CONTINUE_EXECUTION);
  EXPECT_EQ(sse.context.Rdx, kFaultRip);

  FakeFault noFloatState(win32::EXCEPTION_FLT_OVERFLOW);
  setFpuErrorOffset(noFloatState.context, kX87Instruction);
  ASSERT_EQ(noFloatState.filter(), win32::EXCEPTION_CONTINUE_EXECUTION);
  EXPECT_EQ(noFloatState.context.Rdx, kFaultRip);

  FakeFault access(win32::EXCEPTION_ACCESS_VIOLATION);
  access.context.ContextFlags |= win32::CONTEXT_FLOATING_POINT;
  setFpuErrorOffset(access.context, kX87Instruction);
  ASSERT_EQ(access.filter(), win32::EXCEPTION_CONTINUE_EXECUTION);
  EXPECT_EQ(access.context.Rdx, kFaultRip);
}

using FilterMessages = testing_support::DirectOutputCapture;

TEST_F(FilterMessages, NonContinuableExceptionIsLeftToTheSystemWithAMessage) {
  FakeFault fault(win32::EXCEPTION_ACCESS_VIOLATION);
  fault.record.ExceptionFlags = win32::EXCEPTION_NONCONTINUABLE;
  EXPECT_EQ(fault.filter(), win32::EXCEPTION_EXECUTE_HANDLER);
  EXPECT_EQ(fault.context.Rip, kFaultRip);
  EXPECT_EQ(written(), "#RTS: Unable to handle an exception.\r\n");
}

TEST_F(FilterMessages, UnknownCodesAreLeftToTheSystemSilently) {
  for (win32::DWORD code : {win32::EXCEPTION_ILLEGAL_INSTRUCTION, win32::EXCEPTION_STACK_OVERFLOW,
                            win32::DWORD{0xE0000001}}) {
    FakeFault fault(code);
    EXPECT_EQ(fault.filter(), win32::EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(fault.context.Rip, kFaultRip);
  }
  EXPECT_EQ(written(), "");
}

}  // namespace
