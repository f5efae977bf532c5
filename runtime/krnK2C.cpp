// K2C_BEGIN, the run-time's entry flags and the floating-point set-up.
#include "runtime/krnK2C.h"

#include <atomic>

#include "runtime/TERMINATION.h"
#include "runtime/kosExit.h"
#include "runtime/krExceptions.h"
#include "runtime/krMM.h"
#include "runtime/krnStart.h"

namespace {

std::uint32_t libraryInitialised = 0;
// Set (release) at the end of K2C_BEGIN: a thread that reads it set (acquire)
// sees the whole start-up state, which the console break handler relies on
// when it reports from its own thread.
std::atomic<std::uint32_t> executableEntered{0};
bool fpuInitialised = false;
// Whether this thread runs with the traps armed; only such a thread gets
// them re-armed after a floating-point trap.
thread_local bool fpuArmedHere = false;

const void* stackBottom = nullptr;

// x87: invalid operation, zero divide and overflow unmasked; denormal,
// underflow and precision masked; 64-bit precision; round to nearest.
constexpr std::uint16_t kControlWord = 0x0332;
constexpr std::uint16_t kExceptionMaskBits = 0x003F;
constexpr std::uint16_t kArmedMasks = 0x0032;
constexpr std::uint16_t kStatusKeep = 0xC700;
// MXCSR: exception flags in bits 0-5, their masks in bits 7-12, rounding in
// bits 13-14.
constexpr std::uint32_t kMxcsrFlags = 0x003F;
constexpr std::uint32_t kMxcsrMasks = 0x1F80;
constexpr std::uint32_t kMxcsrRounding = 0x6000;
constexpr std::uint32_t kMxcsrArmedMasks = 0x32u << 7;

struct X87Environment {
  std::uint16_t control;
  std::uint16_t reserved1;
  std::uint16_t status;
  std::uint16_t reserved2;
  std::uint16_t tag;
  std::uint16_t reserved3;
  std::uint32_t rest[4];
};

std::uint32_t readMxcsr() {
  std::uint32_t mxcsr;
  asm volatile("stmxcsr %0" : "=m"(mxcsr));
  return mxcsr;
}

void writeMxcsr(std::uint32_t mxcsr) {
  asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

// Arming with a flag still raised would trap at the next float instruction.
void armTraps() {
  asm volatile("fnclex");
  std::uint16_t control = kControlWord;
  asm volatile("fldcw %0" : : "m"(control));
  std::uint32_t mxcsr = readMxcsr() & ~(kMxcsrFlags | kMxcsrMasks | kMxcsrRounding);
  writeMxcsr(mxcsr | kMxcsrArmedMasks);
}

void clearX87(bool armed) {
  X87Environment env;
  asm volatile("fnstenv %0" : "=m"(env));
  if (armed) env.control = (env.control & ~kExceptionMaskBits) | kArmedMasks;
  env.status &= kStatusKeep;
  env.tag = 0xFFFF;
  asm volatile("fldenv %0" : : "m"(env));
}

void clearSse(bool armed) {
  std::uint32_t mxcsr = readMxcsr() & ~kMxcsrFlags;
  if (armed) mxcsr = (mxcsr & ~kMxcsrMasks) | kMxcsrArmedMasks;
  writeMxcsr(mxcsr);
}

// The coroutine clean-up: restores the interrupt handlers 0 to 255, which
// there are none of on this platform.
void coroutineCleanUp() {}

void K2C_ini_coroutines(const void* bottom) {
  stackBottom = bottom;
  K2C_atexit(&coroutineCleanUp);
}

void K2C_reg_stackbotm(const void* bottom) {
  if (bottom > stackBottom) stackBottom = bottom;
}

}  // namespace

// The stack bottom is the caller's frame: everything the main module and its
// callees put on the stack lies below it.
__attribute__((noinline)) void K2C_BEGIN(std::int32_t& argc, char** argv, bool gcAuto,
                                         std::int32_t gcThreshold, std::int32_t heapLimit) {
  K2C_assign_acav(argc, argv);
  K2C_InitFPP();
  const void* bottom = __builtin_frame_address(0);
  if (K2C_wasNLibInit() == 0) {
    K2C_makeNLibInit();
    K2C_ini_coroutines(bottom);
    K2C_GC_INIT(gcAuto, gcThreshold, heapLimit);
    K2C_init_exceptions();
  } else {
    K2C_GC_INCREASE(gcAuto, gcThreshold, heapLimit);
    if (K2C_wasXEntry() == 0) K2C_reg_stackbotm(bottom);
  }
  K2C_makeXEntry();
  K2C_ini_termination();
}

void K2C_assign_acav(std::int32_t argc, char** argv) {
  K2C_argc = argc;
  K2C_argv = argv;
}

void K2C_InitFPP() {
  if (fpuInitialised) return;
  fpuInitialised = true;
  fpuArmedHere = true;
  armTraps();
}

void K2C_ClearFPP() {
  if (!fpuInitialised) return;
  clearX87(fpuArmedHere);
  clearSse(fpuArmedHere);
}

std::uint32_t K2C_wasNLibInit() {
  return libraryInitialised;
}
void K2C_makeNLibInit() {
  libraryInitialised = 1;
}
std::uint32_t K2C_wasXEntry() {
  return executableEntered;
}
void K2C_makeXEntry() {
  executableEntered = 1;
}

const void* K2C_GetStackBottom() {
  return stackBottom;
}
