#include "platform/kernel/Handles.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/FilesInternal.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/HandlesInternal.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/ThreadsInternal.h"

namespace {

using namespace win32;

class Counted : public detail::KernelObject {
 public:
  explicit Counted(std::atomic<int>& alive, int id = 0) : id(id), alive_(alive) { ++alive_; }
  ~Counted() override { --alive_; }
  detail::ObjectKind kind() const override { return detail::ObjectKind::Other; }
  const int id;

 private:
  std::atomic<int>& alive_;
};

// Reads the descriptor to its end; FALSE when no end came within 30 s.
bool readToEnd(int fd, std::size_t& total) {
  char buffer[65536];
  for (int quietPolls = 0; quietPolls < 300;) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) == 0) {
      ++quietPolls;
      continue;
    }
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return n == 0;
    total += static_cast<std::size_t>(n);
  }
  return false;
}

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

TEST(HandlesTest, AHandleClosedWhileInUseClosesAtOnceAndItsObjectGoesWithTheLastUse) {
  std::atomic<int> alive{0};
  HANDLE handle = detail::InsertObject(std::make_shared<Counted>(alive));
  {
    const detail::PinnedObject inUse(handle);
    ASSERT_NE(inUse.get(), nullptr);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(detail::LookupObject(handle), nullptr);
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
}

TEST(HandlesTest, AClosedHandleStaysInvalidWhenItsSlotIsUsedAgain) {
  std::atomic<int> alive{0};
  HANDLE old = detail::InsertObject(std::make_shared<Counted>(alive, 1));
  ASSERT_TRUE(CloseHandle(old));
  HANDLE reused = detail::InsertObject(std::make_shared<Counted>(alive, 2));
  EXPECT_NE(reused, old);
  EXPECT_EQ(detail::LookupObject(old), nullptr);
  EXPECT_FALSE(CloseHandle(old));
  EXPECT_EQ(detail::LookupAs<Counted>(reused)->id, 2);
  EXPECT_TRUE(CloseHandle(reused));
  EXPECT_EQ(alive, 0);
}

TEST(HandlesTest, ValuesThatNameNoHandleAreRefused) {
  for (UINT_PTR value : {UINT_PTR{0}, UINT_PTR{1}, UINT_PTR{6}, UINT_PTR{4000004},
                         ~UINT_PTR{0} << 2, UINT_PTR{1} << 60}) {
    SCOPED_TRACE(value);
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    EXPECT_EQ(detail::LookupObject(handle), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(handle));
  }
}

// The writing end's descriptor closes when the write that was under way at
// CloseHandle ends, so the reader gets everything and then its end of file.
TEST(HandlesTest, APipeClosedDuringABlockedWriteEndsAfterTheWrite) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  HANDLE writer = detail::HandleForDescriptor(fds[1]);
  const std::string data(1 << 20, 'x');  // far more than the pipe holds
  DWORD written = 0;
  std::thread write(
      [&] { WriteFile(writer, data.data(), static_cast<DWORD>(data.size()), &written, nullptr); });
  // A full pipe: the write is under way, and blocked.
  const int capacity = ::fcntl(fds[0], F_GETPIPE_SZ);
  int queued = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (queued < capacity && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::ioctl(fds[0], FIONREAD, &queued);
  }
  EXPECT_EQ(queued, capacity);
  EXPECT_TRUE(CloseHandle(writer));
  std::size_t total = 0;
  EXPECT_TRUE(readToEnd(fds[0], total));
  write.join();
  EXPECT_EQ(total, data.size());
  EXPECT_EQ(written, data.size());
  ::close(fds[0]);
}

// Lookups race with the handle's close and the slot's next use: each finds
// the object its handle was made for or nothing, and every object goes
// exactly once (the sanitizer builds see a use after its end).
TEST(HandlesTest, LookupsRacingWithCloseAndReuseSeeTheirOwnObjectOrNothing) {
  constexpr int kRounds = 3000;
  std::atomic<int> alive{0};
  std::vector<std::atomic<UINT_PTR>> handles(kRounds + 1);
  std::atomic<int> newest{0};
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> lookers;
  for (int t = 0; t < 2; ++t) {
    lookers.emplace_back([&, t] {
      for (int n = 0; !done; ++n) {
        // The newest handle, or one closed a little earlier (its slot reused).
        const int id = std::max(1, newest.load() - (n + t) % 3);
        const detail::PinnedObject pinned(reinterpret_cast<HANDLE>(handles[id].load()));
        const auto* object = static_cast<const Counted*>(pinned.get());
        if (object != nullptr && object->id != id) ++wrong;
      }
    });
  }
  for (int id = 1; id <= kRounds; ++id) {
    HANDLE handle = detail::InsertObject(std::make_shared<Counted>(alive, id));
    handles[id] = reinterpret_cast<UINT_PTR>(handle);
    newest = id;
    std::this_thread::yield();
    CloseHandle(handle);
  }
  done = true;
  for (std::thread& looker : lookers) looker.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(alive, 0);
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

std::size_t openDescriptors() {
  const std::filesystem::directory_iterator entries("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// With every handle in use, each creating call fails its own way and keeps
// nothing it opened; a handle closed makes room again.
TEST(HandlesTest, AFullTableRefusesNewHandlesUntilOneCloses) {
  std::atomic<int> alive{0};
  const auto object = std::make_shared<Counted>(alive);
  std::vector<HANDLE> handles;
  for (HANDLE h; (h = detail::InsertObject(object)) != nullptr;) handles.push_back(h);
  EXPECT_EQ(GetLastError(), ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_GE(handles.size(), std::size_t{1} << 19);

  const std::size_t descriptors = openDescriptors();
  SetLastError(0);
  EXPECT_EQ(CreateFileA("/dev/null", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_EQ(openDescriptors(), descriptors);
  SetLastError(0);
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, nullptr), nullptr);

  ASSERT_TRUE(CloseHandle(handles.back()));
  handles.back() = detail::InsertObject(object);
  EXPECT_NE(handles.back(), nullptr);
  EXPECT_EQ(detail::InsertObject(object), nullptr);
  for (HANDLE h : handles) CloseHandle(h);
  EXPECT_EQ(object.use_count(), 1);
}

}  // namespace
