#include "platform/kernel/Handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/HandlesInternal.h"
#include "platform/kernel/ThreadsInternal.h"

namespace {

using namespace win32;

class Counted : public detail::KernelObject {
 public:
  explicit Counted(std::atomic<int>& alive) : alive_(alive) { ++alive_; }
  ~Counted() override { --alive_; }
  detail::ObjectKind kind() const override { return detail::ObjectKind::Other; }

 private:
  std::atomic<int>& alive_;
};

TEST(HandlesTest, InsertLookupAndClose) {
  std::atomic<int> alive{0};
  HANDLE handle = detail::InsertObject(std::make_shared<Counted>(alive));
  ASSERT_NE(handle, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_NE(detail::LookupAs<Counted>(handle), nullptr);
  EXPECT_EQ(alive, 1);

  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(detail::LookupObject(handle), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(HandlesTest, ObjectLivesWhileAnyHandleIsOpen) {
  std::atomic<int> alive{0};
  HANDLE first = detail::InsertObject(std::make_shared<Counted>(alive));
  HANDLE second = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), first, GetCurrentProcess(), &second, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  EXPECT_NE(first, second);
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(detail::LookupObject(second)->kind(), detail::ObjectKind::Other);
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_EQ(alive, 0);
}

TEST(HandlesTest, DuplicateWithCloseSourceMovesTheHandle) {
  std::atomic<int> alive{0};
  HANDLE source = detail::InsertObject(std::make_shared<Counted>(alive));
  HANDLE target = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &target, 0, FALSE,
                              DUPLICATE_CLOSE_SOURCE));
  EXPECT_EQ(detail::LookupObject(source), nullptr);
  EXPECT_EQ(alive, 1);
  CloseHandle(target);
}

TEST(HandlesTest, PseudoHandlesAreNotTableEntries) {
  EXPECT_EQ(GetCurrentProcess(), reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)));
  EXPECT_EQ(GetCurrentThread(), reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)));
  EXPECT_EQ(detail::LookupObject(GetCurrentThread()), nullptr);
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));  // closing a pseudo-handle does nothing
  HANDLE invalid = nullptr;
  EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(4000004),
                               GetCurrentProcess(), &invalid, 0, FALSE, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(HandlesTest, CurrentThreadDuplicatesIntoARealThreadHandle) {
  HANDLE real = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &real,
                              0, FALSE, DUPLICATE_SAME_ACCESS));
  auto thread = detail::LookupAs<detail::ThreadObject>(real);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(thread->id, GetCurrentThreadId());
  CloseHandle(real);
}

TEST(HandlesTest, ConcurrentInsertsGiveDistinctHandles) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::vector<std::vector<HANDLE>> made(kThreads);
  std::atomic<int> alive{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&made, &alive, t] {
      for (int i = 0; i < kPerThread; ++i) {
        made[t].push_back(detail::InsertObject(std::make_shared<Counted>(alive)));
      }
      for (std::size_t i = 0; i < made[t].size(); i += 2) CloseHandle(made[t][i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<HANDLE> distinct;
  for (const auto& handles : made) distinct.insert(handles.begin(), handles.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kPerThread));
  for (const auto& handles : made) {
    for (std::size_t i = 1; i < handles.size(); i += 2) EXPECT_TRUE(CloseHandle(handles[i]));
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
