// The key queue and the mouse handler chain, fed through the console input
// buffer and the event queue's own reader thread.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/IO.h"
#include "input/BiosIO.h"
#include "tests/input/InputTestSupport.h"

namespace input_test {
namespace {

class ktsEvQueQueue : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartInputModules(); }

  // Types a key: down and up, as a console delivers it.
  static void Type(std::uint16_t scan, char ch, std::uint32_t state = 0) {
    ASSERT_TRUE(Write(KeyRecord(scan, ch, true, state)));
    ASSERT_TRUE(Write(KeyRecord(scan, ch, false, state)));
  }

  static std::string Peek() {
    char ch = 0;
    std::uint8_t scan = 0;
    if (!ktsEvQue::peekKey(ch, scan)) return "none";
    return Pair(ch, scan);
  }

  static std::string Take() {
    char ch = 0;
    std::uint8_t scan = 0;
    if (!ktsEvQue::getKey(ch, scan, false)) return "none";
    return Pair(ch, scan);
  }

  static std::string Pair(char ch, std::uint8_t scan) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x/%02x", static_cast<unsigned char>(ch), scan);
    return text;
  }
};

TEST_F(ktsEvQueQueue, NothingQueuedAtStart) {
  char ch = 'z';
  std::uint8_t scan = 9;
  EXPECT_FALSE(ktsEvQue::peekKey(ch, scan));
  EXPECT_FALSE(ktsEvQue::getKey(ch, scan, false));
  EXPECT_EQ(ch, 'z');  // left alone
  EXPECT_EQ(scan, 9);
  EXPECT_FALSE(BiosIO::KeyPressed());
  EXPECT_FALSE(IO::KeyPressed());
}

TEST_F(ktsEvQueQueue, ATypedKeyIsPeekedUntilItIsTaken) {
  Type(0x1E, 'a');
  ASSERT_TRUE(WaitUntil([] { return IO::KeyPressed(); }));
  EXPECT_EQ(Peek(), "61/1e");
  EXPECT_EQ(Peek(), "61/1e");
  EXPECT_TRUE(BiosIO::KeyPressed());
  EXPECT_EQ(Take(), "61/1e");
  EXPECT_EQ(Peek(), "none");
  EXPECT_FALSE(IO::KeyPressed());
}

TEST_F(ktsEvQueQueue, KeysWithOnlyACodeGiveTheCodeAsScan) {
  Type(0x3B, 0);                                 // F1
  Type(0x3B, 0, win32::SHIFT_PRESSED);           // Shift+F1
  Type(0x3B, 0, win32::LEFT_ALT_PRESSED);        // Alt+F1
  Type(0x1C, '\r', win32::ENHANCED_KEY);         // keypad Enter
  Type(0x1E, '\x01', win32::LEFT_CTRL_PRESSED);  // Ctrl+A
  ASSERT_TRUE(WaitUntil([] {
    BufferDrained();
    return true;
  }));
  const std::vector<std::string> expected = {"00/3b", "00/54", "00/68", "0d/e0", "01/1e"};
  std::vector<std::string> got;
  while (got.size() < expected.size()) {
    char ch = 0;
    std::uint8_t scan = 0;
    ASSERT_TRUE(ktsEvQue::getKey(ch, scan, true));
    got.push_back(Pair(ch, scan));
  }
  EXPECT_EQ(got, expected);
}

TEST_F(ktsEvQueQueue, ReleasesShiftAloneAndOtherRecordsQueueNothing) {
  ASSERT_TRUE(Write(KeyRecord(0x2A, 0, true, win32::SHIFT_PRESSED)));
  ASSERT_TRUE(Write(KeyRecord(0x1E, 'a', false)));
  win32::INPUT_RECORD focus{};
  focus.EventType = win32::FOCUS_EVENT;
  ASSERT_TRUE(Write(focus));
  Type(0x30, 'b');  // the one key that counts
  ASSERT_TRUE(WaitUntil([] { return IO::KeyPressed(); }));
  EXPECT_EQ(Take(), "62/30");
  EXPECT_TRUE(BufferDrained());
  EXPECT_EQ(Peek(), "none");
}

TEST_F(ktsEvQueQueue, AFullQueueKeeps33InOrderAndDropsTheRestWithABeep) {
  const char letters[] = "qwertyuiopasdfghjklzxcvbnm";
  const std::uint16_t scans[] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,
                                 0x19, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25,
                                 0x26, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32};
  std::vector<std::string> typed;
  for (int i = 0; i < 35; ++i) {
    const int k = i % 26;
    ASSERT_TRUE(Write(KeyRecord(scans[k], letters[k], true)));
    typed.push_back(Pair(letters[k], static_cast<std::uint8_t>(scans[k])));
  }
  ASSERT_TRUE(WaitUntil([] { return ktsEvQue::detail::droppedKeys() == 2; }));
  std::vector<std::string> taken;
  for (std::string key = Take(); key != "none"; key = Take()) taken.push_back(key);
  typed.resize(33);
  EXPECT_EQ(taken, typed);
  EXPECT_EQ(ktsEvQue::detail::droppedKeys(), 2u);
  // Room again: the next key is queued.
  Type(0x1E, 'a');
  ASSERT_TRUE(WaitUntil([] { return IO::KeyPressed(); }));
  EXPECT_EQ(Take(), "61/1e");
}

TEST_F(ktsEvQueQueue, AWaitingGetKeySleepsUntilAKeyArrives) {
  std::string got;
  std::thread consumer([&got] {
    char ch = 0;
    std::uint8_t scan = 0;
    if (ktsEvQue::getKey(ch, scan, true)) got = Pair(ch, scan);
  });
  Type(0x2D, 'x');
  consumer.join();
  EXPECT_EQ(got, "78/2d");
  EXPECT_EQ(Peek(), "none");
}

TEST_F(ktsEvQueQueue, TwoWaitingConsumersTakeOneKeyEach) {
  std::string got[2];
  std::thread consumers[2];
  for (int i = 0; i < 2; ++i) {
    consumers[i] = std::thread([&got, i] {
      char ch = 0;
      std::uint8_t scan = 0;
      if (ktsEvQue::getKey(ch, scan, true)) got[i] = Pair(ch, scan);
    });
  }
  Type(0x2D, 'x');
  Type(0x15, 'y');
  for (auto& consumer : consumers) consumer.join();
  EXPECT_NE(got[0], got[1]);
  for (const std::string& key : got) EXPECT_TRUE(key == "78/2d" || key == "79/15") << key;
  EXPECT_EQ(Peek(), "none");
  EXPECT_FALSE(IO::KeyPressed());
}

TEST_F(ktsEvQueQueue, KeyboardStatusVariablesAfterTheBody) {
  BiosIO::BEGIN();
  EXPECT_EQ(static_cast<unsigned char>(BiosIO::LastChar), 0xFF);
  EXPECT_EQ(BiosIO::LastScan, 0);
  EXPECT_TRUE(BiosIO::EnhancedBIOS);
}

// ---- Mouse handlers -----------------------------------------------------------

struct Seen {
  char who;
  ktsEvQue::MouseEvent event;
};
// Handlers run on the queue's reader thread too: what they saw is kept
// under a lock.
std::mutex seenMutex;
std::vector<Seen>* seen = nullptr;
bool firstAnswers = false;
bool secondAnswers = false;

void noteSeen(char who, const ktsEvQue::MouseEvent& event) {
  std::lock_guard lock(seenMutex);
  seen->push_back({who, event});
}
std::vector<Seen> seenSoFar() {
  std::lock_guard lock(seenMutex);
  return *seen;
}

bool firstHandler(ktsEvQue::MouseEvent& event) {
  noteSeen('A', event);
  return firstAnswers;
}
bool secondHandler(ktsEvQue::MouseEvent& event) {
  noteSeen('B', event);
  return secondAnswers;
}

TEST(ktsEvQueMouse, TheNewestHandlerIsAskedFirstAndCanStopTheChain) {
  StartInputModules();
  seen = new std::vector<Seen>;
  ktsEvQue::AddMouseHandler(firstHandler);
  ktsEvQue::AddMouseHandler(secondHandler);
  firstAnswers = true;  // the mouse module's older handler never sees these
  secondAnswers = true;
  ktsEvQue::detail::handleRecord(MouseRecord(3, 4, 0x01));
  secondAnswers = false;
  ktsEvQue::detail::handleRecord(MouseRecord(5, 6, 0xFF, win32::MOUSE_WHEELED));
  ASSERT_EQ(seen->size(), 3u);
  EXPECT_EQ((*seen)[0].who, 'B');
  EXPECT_EQ((*seen)[0].event.x, 3);
  EXPECT_EQ((*seen)[0].event.y, 4);
  EXPECT_EQ((*seen)[0].event.buttons, 0x01);
  EXPECT_EQ((*seen)[1].who, 'B');
  EXPECT_EQ((*seen)[2].who, 'A');
  EXPECT_EQ((*seen)[2].event.buttons, 0x07);  // only the three buttons
  EXPECT_EQ((*seen)[2].event.x, 5);
}

TEST(ktsEvQueMouse, RecordsFromTheBufferReachTheHandlers) {
  StartInputModules();
  seen = new std::vector<Seen>;
  firstAnswers = true;
  ktsEvQue::AddMouseHandler(firstHandler);
  ASSERT_TRUE(Write(MouseRecord(-1, 7, 0x04)));
  ASSERT_TRUE(WaitUntil([] { return BufferDrained(); }));
  ASSERT_TRUE(WaitUntil([] { return !seenSoFar().empty(); }));
  const std::vector<Seen> got = seenSoFar();
  EXPECT_EQ(got[0].event.x, -1);  // the record's signed column, widened
  EXPECT_EQ(got[0].event.buttons, 0x04);
}

}  // namespace
}  // namespace input_test
