// The console input buffer through its handles: order, peek against read,
// flush, the signalled state of a wait, and a writer waking a blocked reader.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/console/Console.h"
#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/FilesInternal.h"
#include "platform/console/ConsoleInput.h"

namespace {

using namespace win32;

INPUT_RECORD keyRecord(char c, bool down = true) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.uChar.AsciiChar = c;
  return record;
}

INPUT_RECORD mouseRecord(SHORT x, SHORT y) {
  INPUT_RECORD record{};
  record.EventType = MOUSE_EVENT;
  record.Event.MouseEvent.dwMousePosition = {x, y};
  record.Event.MouseEvent.dwButtonState = FROM_LEFT_1ST_BUTTON_PRESSED;
  return record;
}

// Every test gets its own handle on the process's buffer, emptied.
class InputBufferTest : public testing::Test {
 protected:
  void SetUp() override {
    input_ = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(input_, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(FlushConsoleInputBuffer(input_));
  }
  void TearDown() override {
    FlushConsoleInputBuffer(input_);
    CloseHandle(input_);
  }
  void write(const std::vector<INPUT_RECORD>& records) {
    DWORD written = 0;
    ASSERT_TRUE(
        WriteConsoleInputA(input_, records.data(), static_cast<DWORD>(records.size()), &written));
    ASSERT_EQ(written, records.size());
  }
  DWORD count() {
    DWORD n = 99;
    EXPECT_TRUE(GetNumberOfConsoleInputEvents(input_, &n));
    return n;
  }

  HANDLE input_ = nullptr;
};

TEST_F(InputBufferTest, TheConsoleInputHandleIsACharacterDevice) {
  EXPECT_EQ(GetFileType(input_), FILE_TYPE_CHAR);
  DWORD mode = 0;
  EXPECT_TRUE(GetConsoleMode(input_, &mode));
}

TEST_F(InputBufferTest, RecordsComeOutInTheOrderTheyWentIn) {
  write({keyRecord('a'), mouseRecord(3, 4), keyRecord('b', false)});
  INPUT_RECORD got[5]{};
  DWORD read = 0;
  ASSERT_TRUE(ReadConsoleInputA(input_, got, 2, &read));
  ASSERT_EQ(read, 2u);
  EXPECT_EQ(got[0].Event.KeyEvent.uChar.AsciiChar, 'a');
  EXPECT_EQ(got[1].EventType, MOUSE_EVENT);
  EXPECT_EQ(got[1].Event.MouseEvent.dwMousePosition.X, 3);
  EXPECT_EQ(got[1].Event.MouseEvent.dwMousePosition.Y, 4);
  ASSERT_TRUE(ReadConsoleInputA(input_, got, 5, &read));
  ASSERT_EQ(read, 1u);
  EXPECT_EQ(got[0].Event.KeyEvent.uChar.AsciiChar, 'b');
  EXPECT_EQ(got[0].Event.KeyEvent.bKeyDown, FALSE);
  EXPECT_EQ(count(), 0u);
}

TEST_F(InputBufferTest, PeekLeavesTheRecordsWhereReadTakesThem) {
  write({keyRecord('x'), keyRecord('y')});
  INPUT_RECORD got[4]{};
  DWORD read = 0;
  ASSERT_TRUE(PeekConsoleInputA(input_, got, 4, &read));
  EXPECT_EQ(read, 2u);
  ASSERT_TRUE(PeekConsoleInputA(input_, got, 1, &read));
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(got[0].Event.KeyEvent.uChar.AsciiChar, 'x');
  EXPECT_EQ(count(), 2u);
  ASSERT_TRUE(ReadConsoleInputA(input_, got, 1, &read));
  EXPECT_EQ(got[0].Event.KeyEvent.uChar.AsciiChar, 'x');
  ASSERT_TRUE(PeekConsoleInputA(input_, got, 1, &read));
  EXPECT_EQ(got[0].Event.KeyEvent.uChar.AsciiChar, 'y');
}

TEST_F(InputBufferTest, PeekOfAnEmptyBufferReturnsNothingAtOnce) {
  INPUT_RECORD got{};
  DWORD read = 7;
  ASSERT_TRUE(PeekConsoleInputA(input_, &got, 1, &read));
  EXPECT_EQ(read, 0u);
}

TEST_F(InputBufferTest, FlushEmptiesTheBufferAndTheWaitStateFollows) {
  EXPECT_EQ(WaitForSingleObject(input_, 0), WAIT_TIMEOUT);
  write({keyRecord('a'), keyRecord('a', false)});
  EXPECT_EQ(WaitForSingleObject(input_, 0), WAIT_OBJECT_0);
  // A wait does not consume the record it sees.
  EXPECT_EQ(WaitForSingleObject(input_, 0), WAIT_OBJECT_0);
  EXPECT_EQ(count(), 2u);
  ASSERT_TRUE(FlushConsoleInputBuffer(input_));
  EXPECT_EQ(count(), 0u);
  EXPECT_EQ(WaitForSingleObject(input_, 0), WAIT_TIMEOUT);
}

TEST_F(InputBufferTest, FlushFileBuffersOnTheConsoleInputEmptiesItToo) {
  write({keyRecord('a'), keyRecord('a', false)});
  ASSERT_TRUE(FlushFileBuffers(input_));
  EXPECT_EQ(count(), 0u);
  EXPECT_EQ(WaitForSingleObject(input_, 0), WAIT_TIMEOUT);
}

INPUT_RECORD moveRecord(SHORT x, SHORT y) {
  INPUT_RECORD record = mouseRecord(x, y);
  record.Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
  return record;
}

// Writes (each a WriteConsoleInputA call), then the X of every queued record.
struct MoveRow {
  const char* name;
  std::vector<std::vector<INPUT_RECORD>> writes;
  std::vector<SHORT> queued;
};

TEST_F(InputBufferTest, AMoveWrittenAloneTakesThePlaceOfAQueuedMove) {
  const MoveRow rows[] = {
      {"move behind a move", {{moveRecord(1, 0)}, {moveRecord(2, 0)}}, {2}},
      {"a long drag", {{moveRecord(1, 0)}, {moveRecord(2, 0)}, {moveRecord(3, 0)}}, {3}},
      {"moves in one call", {{moveRecord(1, 0), moveRecord(2, 0)}}, {1, 2}},
      {"several behind a move",
       {{moveRecord(1, 0)}, {moveRecord(2, 0), moveRecord(3, 0)}},
       {1, 2, 3}},
      {"move behind a click", {{mouseRecord(1, 0)}, {moveRecord(2, 0)}}, {1, 2}},
      {"click behind a move", {{moveRecord(1, 0)}, {mouseRecord(2, 0)}}, {1, 2}},
      {"move behind a key", {{moveRecord(1, 0)}, {keyRecord('k')}, {moveRecord(3, 0)}}, {1, 0, 3}},
  };
  for (const MoveRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(FlushConsoleInputBuffer(input_));
    for (const auto& records : row.writes) write(records);
    INPUT_RECORD got[8]{};
    DWORD read = 0;
    ASSERT_TRUE(PeekConsoleInputA(input_, got, 8, &read));
    std::vector<SHORT> queued;
    for (DWORD i = 0; i < read; ++i) {
      queued.push_back(got[i].EventType == MOUSE_EVENT ? got[i].Event.MouseEvent.dwMousePosition.X
                                                       : SHORT{0});
    }
    EXPECT_EQ(queued, row.queued);
  }
}

TEST_F(InputBufferTest, EveryConsoleInputHandleNamesTheSameBuffer) {
  HANDLE other = CreateFileA("conin$", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  write({keyRecord('q')});
  INPUT_RECORD got{};
  DWORD read = 0;
  ASSERT_TRUE(ReadConsoleInputA(other, &got, 1, &read));
  EXPECT_EQ(got.Event.KeyEvent.uChar.AsciiChar, 'q');
  CloseHandle(other);
  EXPECT_EQ(count(), 0u);  // closing one handle leaves the buffer to the others
}

TEST_F(InputBufferTest, AWriterOnAnotherThreadWakesABlockedRead) {
  INPUT_RECORD got{};
  DWORD read = 0;
  std::thread reader([&] { ReadConsoleInputA(input_, &got, 1, &read); });
  std::thread writer([&] {
    const INPUT_RECORD record = keyRecord('w');
    DWORD written = 0;
    WriteConsoleInputA(input_, &record, 1, &written);
  });
  writer.join();
  reader.join();
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(got.Event.KeyEvent.uChar.AsciiChar, 'w');
}

TEST_F(InputBufferTest, AWaitOnTheHandleWakesForARecordFromAnotherThread) {
  DWORD outcome = WAIT_FAILED;
  std::thread waiter([&] { outcome = WaitForSingleObject(input_, INFINITE); });
  write({keyRecord('z')});
  waiter.join();
  EXPECT_EQ(outcome, WAIT_OBJECT_0);
}

TEST_F(InputBufferTest, RecordsBeyondTheCapacityAreRefused) {
  std::vector<INPUT_RECORD> many(20000, keyRecord('m'));
  DWORD written = 0;
  EXPECT_FALSE(WriteConsoleInputA(input_, many.data(), static_cast<DWORD>(many.size()), &written));
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, many.size());
  EXPECT_EQ(count(), written);
}

struct BadCall {
  const char* name;
  BOOL (*call)(HANDLE input);
  DWORD error;
};

BOOL readIntoNull(HANDLE input) {
  DWORD read = 0;
  return ReadConsoleInputA(input, nullptr, 1, &read);
}
BOOL readWithoutCount(HANDLE input) {
  INPUT_RECORD record{};
  return ReadConsoleInputA(input, &record, 1, nullptr);
}
BOOL writeFromNull(HANDLE input) {
  DWORD written = 0;
  return WriteConsoleInputA(input, nullptr, 1, &written);
}
// Windows reads the records before it looks at the handle.
BOOL writeFromNullToAnEvent(HANDLE) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  DWORD written = 0;
  const BOOL ok = WriteConsoleInputA(event, nullptr, 1, &written);
  const DWORD error = GetLastError();
  CloseHandle(event);
  SetLastError(error);
  return ok;
}
BOOL countIntoNull(HANDLE input) {
  return GetNumberOfConsoleInputEvents(input, nullptr);
}

TEST_F(InputBufferTest, BadArgumentsFailWithAClearError) {
  const BadCall calls[] = {
      {"read into null", &readIntoNull, ERROR_INVALID_PARAMETER},
      {"read without count", &readWithoutCount, ERROR_INVALID_PARAMETER},
      {"write from null", &writeFromNull, ERROR_NOACCESS},
      {"write from null to no console input", &writeFromNullToAnEvent, ERROR_NOACCESS},
      {"count into null", &countIntoNull, ERROR_INVALID_PARAMETER},
  };
  for (const BadCall& row : calls) {
    SCOPED_TRACE(row.name);
    EXPECT_FALSE(row.call(input_));
    EXPECT_EQ(GetLastError(), row.error);
  }
}

// Records are written with WriteConsoleInputA; WriteFile never reaches the
// terminal that feeds the buffer.
TEST(ConsoleInputObjectTest, WriteFileIsRefusedAndLeavesTheTerminalAlone) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
  HANDLE input = detail::InsertObject(std::make_shared<detail::ConsoleInputObject>(fds[1]));
  DWORD written = 9;
  EXPECT_FALSE(WriteFile(input, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(written, 0u);
  char byte = 0;
  EXPECT_EQ(::read(fds[0], &byte, 1), -1);  // nothing arrived
  CloseHandle(input);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(InputBufferTest, HandlesOtherThanTheConsoleInputAreRefused) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  HANDLE pipe = detail::HandleForDescriptor(fds[0]);
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  for (HANDLE handle : {pipe, event, static_cast<HANDLE>(nullptr)}) {
    INPUT_RECORD record = keyRecord('a');
    DWORD n = 0;
    EXPECT_FALSE(WriteConsoleInputA(handle, &record, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(PeekConsoleInputA(handle, &record, 1, &n));
    EXPECT_FALSE(FlushConsoleInputBuffer(handle));
    EXPECT_FALSE(GetNumberOfConsoleInputEvents(handle, &n));
  }
  CloseHandle(pipe);
  CloseHandle(event);
  ::close(fds[1]);
}

TEST_F(InputBufferTest, ReadFileTakesTypedLinesAsText) {
  DWORD mode = 0;
  ASSERT_TRUE(GetConsoleMode(input_, &mode));
  ASSERT_TRUE(SetConsoleMode(input_, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT));
  write({keyRecord('h'), keyRecord('h', false), mouseRecord(1, 1), keyRecord('x'), keyRecord('\b'),
         keyRecord('i'), keyRecord('\r')});
  char text[3] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(input_, text, 3, &read, nullptr));
  EXPECT_EQ(std::string(text, read), "hi\r");
  ASSERT_TRUE(ReadFile(input_, text, 3, &read, nullptr));
  EXPECT_EQ(std::string(text, read), "\n");
  SetConsoleMode(input_, mode);
}

}  // namespace
