// Per-thread queues: order, filters, quit, waking a waiting thread, and
// where WM_PAINT comes in the order.
#include <atomic>
#include <future>
#include <thread>

#include "tests/platform/user/UserTestSupport.h"

namespace user_test {
namespace {

using namespace win32;

using MessageQueueTest = UserTest;

TEST_F(MessageQueueTest, PostedMessagesComeInOrder) {
  HWND window = CreateTestWindow();
  DrainMessages();
  PostMessageA(window, WM_USER + 1, 1, 10);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 2, 2, 20);
  PostMessageA(window, WM_USER + 3, 3, 30);
  MSG message;
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.message, WM_USER + 1u);
  EXPECT_EQ(message.hwnd, window);
  EXPECT_EQ(message.wParam, 1u);
  EXPECT_EQ(message.lParam, 10);
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.message, WM_USER + 2u);
  EXPECT_EQ(message.hwnd, nullptr);
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.message, WM_USER + 3u);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, PeekWithoutRemovingLeavesTheMessage) {
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 7, 0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, FiltersPickByNumberAndWindow) {
  HWND window = CreateTestWindow();
  DrainMessages();
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);
  PostMessageA(window, WM_USER + 2, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 0, 0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  EXPECT_EQ(message.message, WM_USER + 3u);
  ASSERT_TRUE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_USER + 2u);
  const HWND threadOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
  PostMessageA(window, WM_USER + 4, 0, 0);
  ASSERT_TRUE(PeekMessageA(&message, threadOnly, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_USER + 1u);
  EXPECT_FALSE(PeekMessageA(&message, threadOnly, 0, 0, PM_REMOVE));
  DrainMessages();
}

TEST_F(MessageQueueTest, GetMessageAnswersZeroForQuit) {
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
  MSG message;
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.message, WM_QUIT);
}

TEST_F(MessageQueueTest, PostQuitMessageComesAfterPostedMessages) {
  PostQuitMessage(5);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
  MSG message;
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.message, WM_USER);
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.wParam, 5u);
}

TEST_F(MessageQueueTest, BadWindowFilterAnswersMinusOne) {
  MSG message;
  EXPECT_EQ(GetMessageA(&message, reinterpret_cast<HWND>(0x7777), 0, 0), -1);
  EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
}

TEST_F(MessageQueueTest, PostThreadMessageWakesGetMessageOnAnotherThread) {
  std::promise<DWORD> idPromise;
  auto idFuture = idPromise.get_future();
  std::atomic<bool> waiting{false};
  std::vector<UINT> received;
  std::thread receiver([&] {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // make the queue
    idPromise.set_value(GetCurrentThreadId());
    waiting = true;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) received.push_back(message.message);
    received.push_back(message.message);
  });
  const DWORD receiverId = idFuture.get();
  while (!waiting) std::this_thread::yield();
  // The receiver is (or is about to be) blocked in GetMessageA.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(PostThreadMessageA(receiverId, WM_USER + 9, 0, 0));
  EXPECT_TRUE(PostThreadMessageA(receiverId, WM_QUIT, 0, 0));
  receiver.join();
  EXPECT_EQ(received, (std::vector<UINT>{WM_USER + 9, WM_QUIT}));
}

TEST_F(MessageQueueTest, PostBeforeTheThreadAsksIsKept) {
  std::promise<DWORD> idPromise;
  std::promise<void> posted;
  auto postedFuture = posted.get_future();
  UINT got = 0;
  std::thread receiver([&] {
    idPromise.set_value(GetCurrentThreadId());
    postedFuture.wait();
    MSG message;
    GetMessageA(&message, nullptr, 0, 0);
    got = message.message;
  });
  EXPECT_TRUE(PostThreadMessageA(idPromise.get_future().get(), WM_USER + 4, 0, 0));
  posted.set_value();
  receiver.join();
  EXPECT_EQ(got, WM_USER + 4u);
}

TEST_F(MessageQueueTest, PostToThreadZeroFails) {
  EXPECT_FALSE(PostThreadMessageA(0, WM_USER, 0, 0));
}

TEST_F(MessageQueueTest, PaintComesOnlyWhenInvalidAndAfterPostedMessages) {
  HWND window = CreateTestWindow();
  DrainMessages();
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));  // valid: no WM_PAINT

  InvalidateRect(window, nullptr, FALSE);
  PostMessageA(window, WM_USER, 0, 0);
  ASSERT_TRUE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(message.message, WM_USER);
  ASSERT_TRUE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(message.message, WM_PAINT);
  EXPECT_EQ(message.hwnd, window);
  DispatchMessageA(&message);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, PaintIsNotRemovedByRetrievalButByPainting) {
  HWND window = CreateTestWindow();
  DrainMessages();
  InvalidateRect(window, nullptr, FALSE);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  ASSERT_EQ(message.message, WM_PAINT);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_PAINT);
  ValidateRect(window, nullptr);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, InvalidateFromAnotherThreadWakesTheOwner) {
  std::promise<HWND> windowPromise;
  std::atomic<int> paints{0};
  std::thread owner([&] {
    RegisterTestClasses();
    HWND window = CreateTestWindow();
    DrainMessages();
    ClearRecorded();
    windowPromise.set_value(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      DispatchMessageA(&message);
      if (message.message == WM_PAINT) {
        ++paints;
        PostQuitMessage(0);
      }
    }
  });
  HWND window = windowPromise.get_future().get();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  RECT area{1, 2, 3, 4};
  EXPECT_TRUE(InvalidateRect(window, &area, FALSE));
  owner.join();
  EXPECT_EQ(paints.load(), 1);
}

TEST_F(MessageQueueTest, DispatchCallsTheWindowProcedure) {
  HWND window = CreateTestWindow();
  DrainMessages();
  ClearRecorded();
  MSG message{window, WM_USER + 5, 8, 9, 0, {0, 0}};
  DispatchMessageA(&message);
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].message, WM_USER + 5u);
  EXPECT_EQ(Recorded()[0].wParam, 8u);
  EXPECT_EQ(Recorded()[0].lParam, 9);
  MSG threadMessage{nullptr, WM_USER, 0, 0, 0, {0, 0}};
  EXPECT_EQ(DispatchMessageA(&threadMessage), 0);
  EXPECT_EQ(Recorded().size(), 1u);
}

TEST_F(MessageQueueTest, DestroyedWindowsMessagesAreDropped) {
  HWND window = CreateTestWindow();
  PostMessageA(window, WM_USER, 0, 0);
  DestroyWindow(window);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, TranslateMessagePostsCharacters) {
  HWND window = CreateTestWindow();
  DrainMessages();
  MSG keyA{window, WM_KEYDOWN, 'A', 0x001E0001, 0, {0, 0}};
  EXPECT_TRUE(TranslateMessage(&keyA));
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_CHAR);
  EXPECT_EQ(message.wParam, static_cast<WPARAM>('a'));

  MSG shiftDown{window, WM_KEYDOWN, VK_SHIFT, 0x002A0001, 0, {0, 0}};
  TranslateMessage(&shiftDown);
  TranslateMessage(&keyA);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.wParam, static_cast<WPARAM>('A'));
  MSG shiftUp{window, WM_KEYUP, VK_SHIFT, static_cast<LPARAM>(0xC02A0001u), 0, {0, 0}};
  EXPECT_TRUE(TranslateMessage(&shiftUp));

  MSG up{window, WM_KEYUP, VK_UP, 0, 0, {0, 0}};
  EXPECT_TRUE(TranslateMessage(&up));
  MSG other{window, WM_USER, 0, 0, 0, {0, 0}};
  EXPECT_FALSE(TranslateMessage(&other));
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

}  // namespace
}  // namespace user_test
