#include "platform/kernel/Threads.h"

#include <fenv.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/HandlesInternal.h"
#include "platform/kernel/ThreadsInternal.h"

namespace {

using namespace win32;

DWORD exitCodeOf(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  CloseHandle(thread);
  return code;
}

DWORD WINAPI returnParameter(LPVOID parameter) {
  return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(parameter));
}

TEST(ThreadsTest, ThreadRunsAndEndsWithItsExitCode) {
  DWORD id = 0;
  HANDLE thread =
      CreateThread(nullptr, 0, &returnParameter, reinterpret_cast<LPVOID>(1234), 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(exitCodeOf(thread), 1234u);
}

TEST(ThreadsTest, ThreadIdIsTheOneTheThreadSees) {
  DWORD reported = 0;
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID) WINAPI -> DWORD { return GetCurrentThreadId(); }, nullptr, 0,
      &reported);
  EXPECT_EQ(exitCodeOf(thread), reported);
}

TEST(ThreadsTest, ExitCodeIsStillActiveWhileRunning) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID event) WINAPI -> DWORD {
        WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
        return 5;
      },
      release, 0, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  SetEvent(release);
  EXPECT_EQ(exitCodeOf(thread), 5u);
  CloseHandle(release);
  EXPECT_FALSE(GetExitCodeThread(reinterpret_cast<HANDLE>(4000004), &code));
}

TEST(ThreadsTest, SuspendedThreadStartsOnResume) {
  std::atomic<bool> ran{false};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID flag) WINAPI -> DWORD {
        static_cast<std::atomic<bool>*>(flag)->store(true);
        return 0;
      },
      &ran, CREATE_SUSPENDED, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(ResumeThread(thread), 1u);
  exitCodeOf(thread);
  EXPECT_TRUE(ran.load());
}

struct Spinner {
  std::atomic<bool> stop{false};
  std::atomic<long> rounds{0};
  std::atomic<long> detoured{0};
};
Spinner spinner;

DWORD WINAPI spin(LPVOID) {
  while (!spinner.stop.load()) spinner.rounds.fetch_add(1);
  return 3;
}

// Where the held thread is sent: it counts and then spins as before, on the
// stack below the one it was held on.
[[noreturn]] void detour() {
  spinner.detoured.fetch_add(1);
  spin(nullptr);
  for (;;) ::pause();
}

void awaitRoundsPast(long rounds) {
  while (spinner.rounds.load() <= rounds) std::this_thread::yield();
}

TEST(ThreadsTest, HeldThreadStandsStillAndGoesOnWhereItsContextSays) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer delays the signal that holds a thread";
#endif
  HANDLE thread = CreateThread(nullptr, 0, &spin, nullptr, 0, nullptr);
  awaitRoundsPast(0);
  ASSERT_EQ(SuspendThread(thread), 0u);
  EXPECT_EQ(SuspendThread(thread), 1u);
  const long heldAt = spinner.rounds.load();
  Sleep(20);
  EXPECT_EQ(spinner.rounds.load(), heldAt);
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
  ASSERT_TRUE(GetThreadContext(thread, &context));
  context.Rsp = ((context.Rsp - 256) & ~DWORD64{15}) - 8;  // as after a call
  context.Rip = reinterpret_cast<DWORD64>(&detour);
  ASSERT_TRUE(SetThreadContext(thread, &context));
  EXPECT_EQ(ResumeThread(thread), 2u);
  EXPECT_EQ(spinner.detoured.load(), 0);
  EXPECT_EQ(ResumeThread(thread), 1u);
  awaitRoundsPast(heldAt);
  EXPECT_EQ(spinner.detoured.load(), 1);
  EXPECT_FALSE(GetThreadContext(thread, &context));  // no longer held
  spinner.stop.store(true);
}

TEST(ThreadsTest, NoThreadHoldsItself) {
  HANDLE self = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                              0, FALSE, DUPLICATE_SAME_ACCESS));
  EXPECT_EQ(SuspendThread(self), static_cast<DWORD>(-1));
  CloseHandle(self);
}

TEST(ThreadsTest, NewThreadsStartWithFloatingPointExceptionsMasked) {
  feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID) WINAPI -> DWORD { return static_cast<DWORD>(fegetexcept()); }, nullptr,
      0, nullptr);
  const DWORD unmaskedInThread = exitCodeOf(thread);
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(unmaskedInThread, 0u);
}

TEST(ThreadsTest, NewThreadsHaveAnAlternateSignalStack) {
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) WINAPI -> DWORD {
        stack_t stack{};
        sigaltstack(nullptr, &stack);
        return (stack.ss_flags & SS_DISABLE) == 0 && stack.ss_size >= 64 * 1024 ? 1 : 0;
      },
      nullptr, 0, nullptr);
  EXPECT_EQ(exitCodeOf(thread), 1u);
}

TEST(ThreadsTest, SmallStackSizesGetAtLeastTheDefaultStack) {
  HANDLE thread = CreateThread(
      nullptr, 4096,
      [](LPVOID) WINAPI -> DWORD {
        pthread_attr_t attributes;
        pthread_getattr_np(pthread_self(), &attributes);
        SIZE_T size = 0;
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
        return size >= 1024 * 1024 ? 1 : 0;
      },
      nullptr, 0, nullptr);
  EXPECT_EQ(exitCodeOf(thread), 1u);
}

TEST(ThreadsTest, OtherThreadsGetAThreadObjectThatEndsWithThem) {
  HANDLE handle = nullptr;
  DWORD idInside = 0;
  std::thread other([&] {
    idInside = GetCurrentThreadId();
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &handle, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  });
  other.join();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(detail::LookupAs<detail::ThreadObject>(handle)->id, idInside);
  EXPECT_EQ(WaitForSingleObject(handle, INFINITE), WAIT_OBJECT_0);
  CloseHandle(handle);
}

TEST(ThreadsTest, CreateThreadRejectsAMissingStartRoutine) {
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
