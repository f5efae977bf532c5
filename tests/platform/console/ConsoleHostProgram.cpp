// A program on a real terminal for the console host's end-to-end tests. It
// takes the console (mouse input on, a title of its own), says "ready" in a
// file, and then, by scenario:
//   records  - writes every input record to the output file until 'q'
//   cursor   - moves the cursor, reads it back, writes at a cell, reads again
//   writes   - the cursor after WriteConsoleA: 16 characters, none, 16 NULs, and
//              past the last column with wrapping off and on; then a read
//              of standard output
//   typed-before - says "started" before its first look at the console
//              input, flushes it as the program's start does, then logs
//              records until 'q
//   end|halt|trap - after 'q': returns from main, K2C_HALT(3), an index trap
//   wait     - waits forever (for Ctrl+C, SIGTERM or SIGHUP)
//   beep     - Beep(440, 200), then says whether it succeeded
//   title    - takes the console, notes its first title at once, waits until
//              the title reads otherwise (the terminal told its own), then
//              sets the first title back and notes what it reads
//   late-reply - asks for the cursor (the test does not answer), waits for
//              the test's go, asks again and notes what it got
//   nontty   - (standard input not a terminal) waits on standard input and on
//              CONIN$ as the event queue would for a while, then prints its CPU
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/console/Console.h"
#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Sync.h"
#include "runtime/TERMINATION.h"
#include "runtime/krExceptions.h"
#include "runtime/krnK2C.h"
#include "runtime/krnStart.h"
#include "tests/platform/console/ConsoleHostScenarios.h"
#include "tests/support/Scenarios.h"

namespace {

using namespace win32;

std::string outputPath;

void append(const std::string& line) {
  std::ofstream(outputPath, std::ios::app) << line << "\n";
}

std::string describe(const INPUT_RECORD& record) {
  char text[96];
  if (record.EventType == KEY_EVENT) {
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    std::snprintf(text, sizeof text, "key%c %x %x %x %x", key.bKeyDown != 0 ? '+' : '-',
                  key.wVirtualScanCode, key.wVirtualKeyCode, key.uChar.UnicodeChar,
                  static_cast<unsigned>(key.dwControlKeyState));
  } else if (record.EventType == MOUSE_EVENT) {
    const MOUSE_EVENT_RECORD& mouse = record.Event.MouseEvent;
    std::snprintf(text, sizeof text, "mouse %d,%d %x %x", mouse.dwMousePosition.X,
                  mouse.dwMousePosition.Y, static_cast<unsigned>(mouse.dwButtonState),
                  static_cast<unsigned>(mouse.dwEventFlags));
  } else {
    std::snprintf(text, sizeof text, "other %x", record.EventType);
  }
  return text;
}

// Reads records as the event queue does (wait, then read one) until 'q'.
void readUntilQ(bool log) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (true) {
    if (WaitForSingleObject(input, INFINITE) != WAIT_OBJECT_0) {
      append("wait failed");
      return;
    }
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputA(input, &record, 1, &read) || read != 1) continue;
    if (log) append(describe(record));
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.uChar.AsciiChar == 'q') return;
  }
}

// Waits (at most 20 s) until the test makes the file.
void WaitForFile(const std::string& path) {
  for (int i = 0; i < 2000 && ::access(path.c_str(), F_OK) != 0; ++i) Sleep(10);
}

void takeConsole() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (GetFileType(input) != FILE_TYPE_CHAR) append("standard input is no character device");
  if (!SetConsoleMode(input, ENABLE_PROCESSED_INPUT | ENABLE_MOUSE_INPUT)) append("no mode");
  SetConsoleTitleA("__console host test");
}

std::string at(COORD position) {
  return std::to_string(position.X) + "," + std::to_string(position.Y);
}

void cursor() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  SetConsoleCursorPosition(output, {7, 4});
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output, &info)) {
    append("no screen buffer info " + std::to_string(GetLastError()));
    return;
  }
  append("cursor " + at(info.dwCursorPosition) + " size " + at(info.dwSize));
  DWORD written = 0;
  WriteConsoleOutputCharacterA(output, "CELL\x07TEXT", 9, {2, 10}, &written);
  GetConsoleScreenBufferInfo(output, &info);
  append("after write " + at(info.dwCursorPosition) + " wrote " + std::to_string(written));
}

std::string cursorNow(HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output, &info)) return "none " + std::to_string(GetLastError());
  return at(info.dwCursorPosition);
}

void writes() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  SetConsoleCursorPosition(output, {0, 0});
  WriteConsoleA(output, "0123456789abcdef", 16, &written, nullptr);
  append("after 16 " + cursorNow(output));
  WriteConsoleA(output, "", 0, &written, nullptr);
  append("after 0 " + cursorNow(output));
  SetConsoleCursorPosition(output, {0, 0});
  WriteConsoleA(output, std::string(16, '\0').data(), 16, &written, nullptr);
  append("after 16 NULs " + cursorNow(output) + " wrote " + std::to_string(written));
  SetConsoleMode(output, ENABLE_PROCESSED_OUTPUT);
  SetConsoleCursorPosition(output, {75, 5});
  WriteConsoleA(output, "0123456789", 10, &written, nullptr);
  append("no wrap " + cursorNow(output));
  SetConsoleMode(output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  SetConsoleCursorPosition(output, {75, 7});
  WriteConsoleA(output, "0123456789", 10, &written, nullptr);
  append("wrap " + cursorNow(output));
  // The screen buffer is no input: a read fails at once.
  char byte = 0;
  DWORD read = 0;
  const BOOL readOk = ReadFile(output, &byte, 1, &read, nullptr);
  append("read output " + std::to_string(readOk) + " " + std::to_string(GetLastError()));
}

std::string consoleTitle() {
  char title[300] = {};
  GetConsoleTitleA(title, sizeof title);
  return title;
}

// The terminal is asked for its title at the first look; the answer comes
// when the test gives it.
void titleArrivesLate() {
  SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), ENABLE_PROCESSED_INPUT | ENABLE_MOUSE_INPUT);
  const std::string first = consoleTitle();
  append("first " + first);
  for (int i = 0; i < 2000 && consoleTitle() == first; ++i) Sleep(10);
  append("then " + consoleTitle());
  SetConsoleTitleA(first.c_str());
  append("back " + consoleTitle());
}

// The first query goes unanswered in time; its reply comes before the
// second query's.
void lateCursorReply() {
  SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), ENABLE_PROCESSED_INPUT | ENABLE_MOUSE_INPUT);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  append("first " + cursorNow(output));
  WaitForFile(outputPath + ".go");
  append("second " + cursorNow(output));
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The event queue's reader on a standard input that is no console: its wait
// fails and it pauses 10 ms before the next; a console input handle opened by
// name waits without being signalled.
void notATerminal() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE console =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  int failedWaits = 0;
  for (int i = 0; i < 100; ++i) {
    if (WaitForSingleObject(input, INFINITE) == WAIT_OBJECT_0) {
      INPUT_RECORD record{};
      DWORD read = 0;
      if (ReadConsoleInputA(input, &record, 1, &read)) continue;
    }
    ++failedWaits;
    Sleep(10);
  }
  const DWORD consoleWait = WaitForSingleObject(console, 1000);
  char line[160];
  std::snprintf(line, sizeof line, "failed waits %d console wait %lu cpu %.3f", failedWaits,
                static_cast<unsigned long>(consoleWait), cpuSeconds());
  append(line);
}

using testing_support::Scenario;
namespace names = console_host_scenario;

// Scenarios that leave the console as it is.
const Scenario<void()> kOutsideConsole[] = {
    {"nontty", &notATerminal},
    {"beep", [] { append(Beep(440, 200) ? "beeped" : "no beep"); }},
    {"title", &titleArrivesLate},
    {"late-reply", &lateCursorReply},
};

// Scenarios in the console the program has taken, once it is ready.
const Scenario<void()> kInConsole[] = {
    {"records", [] { readUntilQ(true); }},
    {"typed-before", [] { readUntilQ(true); }},
    {"writes", &writes},
    {"cursor", &cursor},
    {names::kEnd, [] { readUntilQ(false); }},
    {names::kHalt,
     [] {
       readUntilQ(false);
       K2C_HALT(3);
     }},
    {names::kTrap,
     [] {
       readUntilQ(false);
       K2C_CheckIndex<std::uint32_t>(5, 3);
     }},
    {names::kWait, [] { Sleep(INFINITE); }},
};

void Main(std::int32_t argc, char** argv) {
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  const std::string_view scenario = argc > 1 ? argv[1] : "";
  outputPath = argc > 2 ? argv[2] : "/dev/null";
  if (auto* outside = testing_support::FindScenario(kOutsideConsole, scenario)) {
    outside();
    return;
  }
  auto* run = testing_support::ScenarioOrExit(kInConsole, scenario);
  if (scenario == "typed-before") {
    // The test types now; the flush must drop it.
    append("started");
    WaitForFile(outputPath + ".go");
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
  }
  takeConsole();
  std::ofstream(outputPath + ".pid") << ::getpid() << "\n";
  append("ready");
  run();
  append("done");
}

}  // namespace

int main() {
  kStart(&Main);
}
