#include "platform/kernel/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/kernel/Errors.h"
#include "tests/support/Pty.h"
#include "platform/kernel/FilesInternal.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace win32;
using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::StdoutTarget;

using testing_support::TempDir;

struct PipeHandles {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  PipeHandles() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read = detail::HandleForDescriptor(fds[0]);
      write = detail::HandleForDescriptor(fds[1]);
    }
  }
  ~PipeHandles() {
    CloseHandle(read);
    CloseHandle(write);
  }
};

RunOptions stdoutTo(StdoutTarget target) {
  RunOptions options;
  options.stdoutTarget = target;
  return options;
}

std::string ioProgram() {
  return testing_support::ExecutableDirectory() + "/kernel_io_program";
}

HANDLE createFile(const std::string& path, DWORD access, DWORD creation) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, creation,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string readAll(HANDLE file) {
  std::string text;
  char buffer[64];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

TEST(FilesTest, StandardHandlesNameDescriptorsZeroToTwo) {
  EXPECT_EQ(detail::FileDescriptor(GetStdHandle(STD_INPUT_HANDLE)), 0);
  EXPECT_EQ(detail::FileDescriptor(GetStdHandle(STD_OUTPUT_HANDLE)), 1);
  EXPECT_EQ(detail::FileDescriptor(GetStdHandle(STD_ERROR_HANDLE)), 2);
  EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE));
  EXPECT_EQ(GetStdHandle(12345), INVALID_HANDLE_VALUE);
}

TEST(FilesTest, SetStdHandleReplacesAStandardHandle) {
  HANDLE original = GetStdHandle(STD_INPUT_HANDLE);
  PipeHandles pipe;
  ASSERT_TRUE(SetStdHandle(STD_INPUT_HANDLE, pipe.read));
  EXPECT_EQ(GetStdHandle(STD_INPUT_HANDLE), pipe.read);
  ASSERT_TRUE(SetStdHandle(STD_INPUT_HANDLE, original));
  EXPECT_EQ(GetStdHandle(STD_INPUT_HANDLE), original);
}

TEST(FilesTest, FileTypesOfTerminalPipeFileAndInvalidHandle) {
  testing_support::Pty pty;
  ASSERT_TRUE(pty.ok());
  HANDLE terminal = detail::HandleForDescriptor(pty.slave());
  EXPECT_EQ(GetFileType(terminal), FILE_TYPE_CHAR);
  CloseHandle(terminal);

  PipeHandles pipe;
  EXPECT_EQ(GetFileType(pipe.read), FILE_TYPE_PIPE);
  EXPECT_EQ(GetFileType(pipe.write), FILE_TYPE_PIPE);

  TempDir dir;
  HANDLE file = createFile(dir.file("a"), GENERIC_WRITE, CREATE_NEW);
  EXPECT_EQ(GetFileType(file), FILE_TYPE_DISK);
  CloseHandle(file);

  HANDLE null = createFile("/dev/null", GENERIC_WRITE, OPEN_EXISTING);
  EXPECT_EQ(GetFileType(null), FILE_TYPE_CHAR);
  CloseHandle(null);

  EXPECT_EQ(GetFileType(reinterpret_cast<HANDLE>(4000004)), FILE_TYPE_UNKNOWN);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetFileType(INVALID_HANDLE_VALUE), FILE_TYPE_UNKNOWN);
}

TEST(FilesTest, FileTypeOfRedirectedStandardOutput) {
  auto toFile = RunProgram(ioProgram(), {"type"}, stdoutTo(StdoutTarget::File));
  EXPECT_EQ(toFile.err, "type=1\n");
  auto toPipe = RunProgram(ioProgram(), {"type"});
  EXPECT_EQ(toPipe.err, "type=3\n");
}

TEST(FilesTest, ConsoleTitleReachesAStandardOutputTerminalOnly) {
  auto onTerminal = RunProgram(ioProgram(), {"title"}, stdoutTo(StdoutTarget::Terminal));
  EXPECT_EQ(onTerminal.exitCode, 0);
  // Control characters cannot end the escape early; the terminal's own title
  // is saved on its title stack first and comes back at the end.
  EXPECT_EQ(onTerminal.out, "\x1b[22;0t\x1b]2;Shape bo ard\a\x1b[23;0t");
  auto onPipe = RunProgram(ioProgram(), {"title"});
  EXPECT_EQ(onPipe.out, "");
}

TEST(FilesTest, WriteReadRoundTripWithSeeks) {
  TempDir dir;
  HANDLE file = createFile(dir.file("data"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "hello, world", 12, &written, nullptr));
  EXPECT_EQ(written, 12u);

  EXPECT_EQ(SetFilePointer(file, 7, nullptr, FILE_BEGIN), 7u);
  char buffer[16] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "world");
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);  // end of file

  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 7u);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(file);
}

TEST(FilesTest, SetFilePointerUsesAndReturnsTheHighWord) {
  TempDir dir;
  HANDLE file = createFile(dir.file("big"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  LONG high = 1;  // 4 GiB + 16: a sparse position past 32 bits
  EXPECT_EQ(SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  high = 0;
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), 16u);
  EXPECT_EQ(high, 1);
  // Without the high word a position past 32 bits is refused and the file
  // pointer stays.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  high = 0;
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), 16u);
  EXPECT_EQ(high, 1);
  CloseHandle(file);
}

TEST(FilesTest, SetFilePointerFailures) {
  TempDir dir;
  HANDLE file = createFile(dir.file("f"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 9), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(file);

  PipeHandles pipe;
  EXPECT_EQ(SetFilePointer(pipe.read, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_SEEK);
  EXPECT_EQ(SetFilePointer(reinterpret_cast<HANDLE>(4000004), 0, nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(FilesTest, CreationDispositions) {
  TempDir dir;
  const std::string path = dir.file("f");
  EXPECT_EQ(createFile(path, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(createFile(path, GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  HANDLE created = createFile(path, GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  WriteFile(created, "abc", 3, nullptr, nullptr);
  CloseHandle(created);
  EXPECT_EQ(createFile(path, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  HANDLE opened = createFile(path, GENERIC_READ, OPEN_ALWAYS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(readAll(opened), "abc");
  CloseHandle(opened);

  HANDLE replaced = createFile(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(readAll(replaced), "");
  CloseHandle(replaced);

  HANDLE fresh = createFile(dir.file("g"), GENERIC_WRITE, OPEN_ALWAYS);
  EXPECT_NE(fresh, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(fresh);

  EXPECT_EQ(createFile(dir.file("g"), GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createFile(dir.file("g"), GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createFile(dir.file("missing/x"), GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(createFile(dir.path(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(FilesTest, HandlesAreNotInheritedByNewPrograms) {
  TempDir dir;
  HANDLE file = createFile(dir.file("f"), GENERIC_WRITE, CREATE_ALWAYS);
  const int fd = detail::FileDescriptor(file);
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  CloseHandle(file);
}

TEST(FilesTest, ClosingAHandleClosesItsDescriptor) {
  PipeHandles pipe;
  const int fd = detail::FileDescriptor(pipe.write);
  CloseHandle(pipe.write);
  pipe.write = nullptr;
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(detail::FileDescriptor(pipe.write), -1);
}

TEST(FilesTest, PipeReadsWhatWasWrittenThenEndOfFile) {
  PipeHandles pipe;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe.write, "xyz", 3, &written, nullptr));
  CloseHandle(pipe.write);
  pipe.write = nullptr;
  EXPECT_EQ(readAll(pipe.read), "xyz");
}

TEST(FilesTest, WriteToPipeWithoutReaderIsBrokenPipeAndTheProcessSurvives) {
  PipeHandles pipe;
  CloseHandle(pipe.read);
  pipe.read = nullptr;
  DWORD written = 77;
  EXPECT_FALSE(WriteFile(pipe.write, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
  EXPECT_EQ(written, 0u);
}

TEST(FilesTest, StandardOutputErrorsInAChildProcess) {
  auto closed = RunProgram(ioProgram(), {"write"}, stdoutTo(StdoutTarget::ClosedPipe));
  EXPECT_EQ(closed.exitCode, 0);
  EXPECT_EQ(closed.err, "ok=0 error=109 written=0\n");

  auto full = RunProgram(ioProgram(), {"write"}, stdoutTo(StdoutTarget::DevFull));
  EXPECT_EQ(full.exitCode, 0);
  EXPECT_EQ(full.err, "ok=0 error=112 written=0\n");

  auto fine = RunProgram(ioProgram(), {"write"});
  EXPECT_EQ(fine.err, "ok=1 error=0 written=262144\n");
  EXPECT_EQ(fine.out.size(), 262144u);
}

TEST(FilesTest, DiskFullFromDevFull) {
  HANDLE full = createFile("/dev/full", GENERIC_WRITE, OPEN_EXISTING);
  ASSERT_NE(full, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(full, "x", 1, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  CloseHandle(full);
}

TEST(FilesTest, BadHandlesFailWithInvalidHandle) {
  const HANDLE bad = reinterpret_cast<HANDLE>(4000004);
  char buffer[4];
  DWORD count = 5;
  EXPECT_FALSE(ReadFile(bad, buffer, 4, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(WriteFile(bad, buffer, 4, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FlushFileBuffers(bad));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buffer, 4, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(FilesTest, FlushFileBuffers) {
  TempDir dir;
  HANDLE file = createFile(dir.file("f"), GENERIC_WRITE, CREATE_ALWAYS);
  WriteFile(file, "abc", 3, nullptr, nullptr);
  EXPECT_TRUE(FlushFileBuffers(file));
  CloseHandle(file);

  PipeHandles pipe;
  EXPECT_FALSE(FlushFileBuffers(pipe.write));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  testing_support::Pty pty;
  ASSERT_TRUE(pty.ok());
  HANDLE terminal = detail::HandleForDescriptor(pty.slave());
  EXPECT_FALSE(FlushFileBuffers(terminal));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(terminal);
}

TEST(FilesTest, ReadFromAPipeStillOpenWaitsForData) {
  PipeHandles pipe;
  std::string got;
  std::thread reader([&] {
    char buffer[8];
    DWORD count = 0;
    if (ReadFile(pipe.read, buffer, sizeof buffer, &count, nullptr)) got.assign(buffer, count);
  });
  DWORD written = 0;
  WriteFile(pipe.write, "late", 4, &written, nullptr);
  reader.join();
  EXPECT_EQ(got, "late");
}

// ---- The direction a handle was opened for --------------------------------------

// Handles for one row, each usable in one direction only.
struct OneWayHandles {
  TempDir dir;
  PipeHandles pipe;
  HANDLE readOnlyFile = INVALID_HANDLE_VALUE;
  HANDLE writeOnlyFile = INVALID_HANDLE_VALUE;
  HANDLE noAccessFile = INVALID_HANDLE_VALUE;
  OneWayHandles() {
    writeOnlyFile = createFile(dir.file("f"), GENERIC_WRITE, CREATE_ALWAYS);
    WriteFile(writeOnlyFile, "abc", 3, nullptr, nullptr);
    readOnlyFile = createFile(dir.file("f"), GENERIC_READ, OPEN_EXISTING);
    noAccessFile = createFile(dir.file("f"), 0, OPEN_EXISTING);
  }
  ~OneWayHandles() {
    CloseHandle(readOnlyFile);
    CloseHandle(writeOnlyFile);
    CloseHandle(noAccessFile);
  }
};

struct WrongWayRow {
  const char* name;
  BOOL (*transfer)(OneWayHandles& handles, DWORD bytes, LPDWORD count);
};

std::ostream& operator<<(std::ostream& out, const WrongWayRow& row) {
  return out << row.name;
}

char scratch[8];

const WrongWayRow kWrongWays[] = {
    {"writing a file opened for reading",
     [](OneWayHandles& h, DWORD n, LPDWORD count) {
       return WriteFile(h.readOnlyFile, "x", n, count, nullptr);
     }},
    {"reading a file opened for writing",
     [](OneWayHandles& h, DWORD n, LPDWORD count) {
       return ReadFile(h.writeOnlyFile, scratch, n, count, nullptr);
     }},
    {"writing the read end of a pipe",
     [](OneWayHandles& h, DWORD n, LPDWORD count) {
       return WriteFile(h.pipe.read, "x", n, count, nullptr);
     }},
    {"reading a file opened with no access",
     [](OneWayHandles& h, DWORD n, LPDWORD count) {
       return ReadFile(h.noAccessFile, scratch, n, count, nullptr);
     }},
    {"writing a file opened with no access",
     [](OneWayHandles& h, DWORD n, LPDWORD count) {
       return WriteFile(h.noAccessFile, "x", n, count, nullptr);
     }},
    {"reading the write end of a pipe",
     [](OneWayHandles& h, DWORD n, LPDWORD count) {
       return ReadFile(h.pipe.write, scratch, n, count, nullptr);
     }},
};

class WrongWay : public testing::TestWithParam<WrongWayRow> {};

TEST_P(WrongWay, IsAccessDeniedWhateverTheSize) {
  OneWayHandles handles;
  for (DWORD bytes : {DWORD{1}, DWORD{0}}) {
    DWORD count = 77;
    EXPECT_FALSE(GetParam().transfer(handles, bytes, &count)) << bytes << " bytes";
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << bytes << " bytes";
    EXPECT_EQ(count, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(FilesTest, WrongWay, testing::ValuesIn(kWrongWays));

TEST(FilesTest, AHandleOpenedBothWaysReadsAndWrites) {
  TempDir dir;
  HANDLE file = createFile(dir.file("f"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_TRUE(WriteFile(file, "ab", 2, nullptr, nullptr));
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  EXPECT_EQ(readAll(file), "ab");
  CloseHandle(file);
}

// ---- The end of a pipe ----------------------------------------------------------

TEST(FilesTest, ReadingAPipeWhoseWriterIsGoneIsBrokenPipeAfterItsData) {
  PipeHandles pipe;
  WriteFile(pipe.write, "xy", 2, nullptr, nullptr);
  CloseHandle(pipe.write);
  pipe.write = nullptr;
  char buffer[8];
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(pipe.read, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "xy");
  got = 77;
  EXPECT_FALSE(ReadFile(pipe.read, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(ReadFile(pipe.read, buffer, sizeof buffer, &got, nullptr));  // and stays so
  EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
}

TEST(FilesTest, AReaderWaitingOnAPipeLearnsOfItsEndAsBrokenPipe) {
  PipeHandles pipe;
  DWORD error = 0;
  BOOL ok = TRUE;
  std::thread reader([&] {
    char buffer[8];
    DWORD got = 0;
    ok = ReadFile(pipe.read, buffer, sizeof buffer, &got, nullptr);
    error = GetLastError();
  });
  CloseHandle(pipe.write);
  pipe.write = nullptr;
  reader.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, ERROR_BROKEN_PIPE);
}

TEST(FilesTest, AFileAtItsEndStillReadsZeroBytes) {
  TempDir dir;
  HANDLE file = createFile(dir.file("f"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  char buffer[4];
  DWORD got = 77;
  SetLastError(ERROR_INVALID_HANDLE);
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);
  CloseHandle(file);
}

// ---- The last error after CreateFileA --------------------------------------------

struct OpenRow {
  const char* name;
  DWORD access;
  DWORD creation;
  bool existsBefore;
  DWORD error;
};

std::ostream& operator<<(std::ostream& out, const OpenRow& row) {
  return out << row.name;
}

const OpenRow kOpens[] = {
    {"OPEN_EXISTING", GENERIC_READ, OPEN_EXISTING, true, ERROR_SUCCESS},
    {"OPEN_EXISTING for writing", GENERIC_WRITE, OPEN_EXISTING, true, ERROR_SUCCESS},
    {"TRUNCATE_EXISTING", GENERIC_WRITE, TRUNCATE_EXISTING, true, ERROR_SUCCESS},
    {"CREATE_NEW", GENERIC_WRITE, CREATE_NEW, false, ERROR_SUCCESS},
    {"CREATE_ALWAYS, new", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_SUCCESS},
    {"CREATE_ALWAYS, there", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS},
    {"OPEN_ALWAYS, new", GENERIC_READ, OPEN_ALWAYS, false, ERROR_SUCCESS},
    {"OPEN_ALWAYS, there", GENERIC_READ, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS},
};

class OpenFile : public testing::TestWithParam<OpenRow> {};

TEST_P(OpenFile, SuccessLeavesNoStaleLastError) {
  TempDir dir;
  const std::string path = dir.file("f");
  if (GetParam().existsBefore) CloseHandle(createFile(path, GENERIC_WRITE, CREATE_NEW));
  SetLastError(ERROR_FILE_NOT_FOUND);
  HANDLE file = createFile(path, GetParam().access, GetParam().creation);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), GetParam().error);
  CloseHandle(file);
}

INSTANTIATE_TEST_SUITE_P(FilesTest, OpenFile, testing::ValuesIn(kOpens));

// The name itself, never what it leads to: the error report file is made so
// in a directory others may write to.
TEST(FilesTest, OpeningTheNameItselfRefusesLinksAndNeverWaitsForAFifo) {
  TempDir dir;
  const std::string target = dir.file("target");
  CloseHandle(createFile(target, GENERIC_WRITE, CREATE_NEW));
  ASSERT_EQ(::symlink(target.c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  const auto openItself = [](const std::string& path, DWORD creation) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  struct Row {
    const char* name;
    DWORD creation;
    DWORD error;
  };
  for (const Row row : {Row{"link", OPEN_ALWAYS, ERROR_INVALID_NAME},
                        Row{"link", CREATE_ALWAYS, ERROR_INVALID_NAME},
                        Row{"dangling", OPEN_ALWAYS, ERROR_INVALID_NAME},
                        Row{"fifo", OPEN_ALWAYS, ERROR_FILE_NOT_FOUND}}) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(openItself(dir.file(row.name), row.creation), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), row.error);
  }
  struct stat status {};
  EXPECT_NE(::lstat(dir.file("nowhere").c_str(), &status), 0) << "created through a link";

  // With a reader the fifo opens, and its handle then blocks as any other.
  const int reader = ::open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  HANDLE fifo = openItself(dir.file("fifo"), OPEN_ALWAYS);
  ASSERT_NE(fifo, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(fifo), FILE_TYPE_PIPE);
  EXPECT_EQ(::fcntl(detail::FileDescriptor(fifo), F_GETFL) & O_NONBLOCK, 0);
  CloseHandle(fifo);
  ::close(reader);

  HANDLE file = openItself(target, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(file), FILE_TYPE_DISK);
  EXPECT_TRUE(WriteFile(file, "abc", 3, nullptr, nullptr));
  CloseHandle(file);
}

TEST(FilesTest, SetEndOfFileCutsOrGrowsAtTheFilePointer) {
  TempDir dir;
  HANDLE file = createFile(dir.file("f"), GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteFile(file, "abcdef", 6, nullptr, nullptr));
  struct Row {
    LONG position;
    const char* contents;
  };
  for (const Row row : {Row{3, "abc"}, Row{5, "abc\0\0"}, Row{0, ""}}) {
    SCOPED_TRACE(row.position);
    ASSERT_EQ(SetFilePointer(file, row.position, nullptr, FILE_BEGIN),
              static_cast<DWORD>(row.position));
    EXPECT_TRUE(SetEndOfFile(file));
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    EXPECT_EQ(readAll(file), std::string(row.contents, static_cast<std::size_t>(row.position)));
  }
  CloseHandle(file);

  PipeHandles pipe;
  EXPECT_FALSE(SetEndOfFile(pipe.write));
  EXPECT_FALSE(SetEndOfFile(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
