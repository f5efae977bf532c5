#include "platform/kernel/Threads.h"

#include <fenv.h>
#include <pthread.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Sync.h"

namespace {

using namespace win32;

DWORD exitCodeOf(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  CloseHandle(thread);
  return code;
}

DWORD returnParameter(LPVOID parameter) {
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
      nullptr, 0, [](LPVOID) -> DWORD { return GetCurrentThreadId(); }, nullptr, 0, &reported);
  EXPECT_EQ(exitCodeOf(thread), reported);
}

TEST(ThreadsTest, ExitCodeIsStillActiveWhileRunning) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID event) -> DWORD {
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
      [](LPVOID flag) -> DWORD {
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

TEST(ThreadsTest, NewThreadsStartWithFloatingPointExceptionsMasked) {
  feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return static_cast<DWORD>(fegetexcept()); }, nullptr, 0,
      nullptr);
  const DWORD unmaskedInThread = exitCodeOf(thread);
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(unmaskedInThread, 0u);
}

TEST(ThreadsTest, NewThreadsHaveAnAlternateSignalStack) {
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
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
      [](LPVOID) -> DWORD {
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
