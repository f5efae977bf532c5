// A program for the console input tests, run in a real terminal (a tmux pane)
// or beside an X server. It starts the modules as the application does (Lib,
// Graph, MsMouse, IO) and then plays one scenario:
//   input_probe <scenario> <results-file> <ready-file> [<go-file>]
// Results go to the results file, one line each, so they never mix with what
// the terminal shows; the ready file appears once the scenario waits for the
// test's input.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

#include "console/IO.h"
#include "console/Lib.h"
#include "graph/Graph.h"
#include "graph/ktsIGraph.h"
#include "channels/StdChans.h"
#include "input/BiosIO.h"
#include "input/MsMouse.h"
#include "input/ktsEvQue.h"
#include "platform/Win32.h"
#include "runtime/krnK2C.h"
#include "runtime/krnStart.h"
#include "tests/support/Scenarios.h"

namespace {

std::FILE* results = nullptr;
std::string goFile;

void result(const std::string& line) {
  std::fprintf(results, "%s\n", line.c_str());
  std::fflush(results);
}

void ready(const char* path) {
  std::FILE* f = std::fopen(path, "w");
  if (f != nullptr) std::fclose(f);
}

std::string hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x", value & 0xFF);
  return text;
}

// Waits (boundedly) until the condition holds, in the program's own delay.
template <class Condition>
bool await(Condition condition) {
  for (int i = 0; i < 1500; ++i) {
    if (condition()) return true;
    Lib::Delay(20);
  }
  return false;
}

bool goGiven() {
  return ::access(goFile.c_str(), F_OK) == 0;
}

std::string peekText() {
  char ch = 0;
  std::uint8_t scan = 0;
  if (!ktsEvQue::peekKey(ch, scan)) return "none";
  return hex(static_cast<unsigned char>(ch)) + "/" + hex(scan);
}

std::string takeText(bool wait) {
  char ch = 0;
  std::uint8_t scan = 0;
  if (!ktsEvQue::getKey(ch, scan, wait)) return "none";
  return hex(static_cast<unsigned char>(ch)) + "/" + hex(scan);
}

// Each key typed: what peek shows twice, what get takes, and whether a key
// is still waiting. Ends after the go file appears and the queue is empty.
void keys() {
  for (;;) {
    if (!await([] { return IO::KeyPressed() || goGiven(); })) return;
    if (!IO::KeyPressed()) return;
    const std::string first = peekText();
    const std::string second = peekText();
    const std::string taken = takeText(false);
    result("peek " + first + " " + second + " get " + taken +
           (IO::KeyPressed() ? " more" : " empty"));
  }
}

// Keys typed while nobody reads; after the go file, everything queued.
void full() {
  if (!await(goGiven)) return;
  int count = 0;
  std::string order;
  for (std::string key = takeText(false); key != "none"; key = takeText(false)) {
    ++count;
    order += key.substr(0, 2) == "00"
                 ? "?"
                 : std::string(1, static_cast<char>(std::stoi(key.substr(0, 2), nullptr, 16)));
  }
  result("queued " + std::to_string(count) + " " + order);
}

std::string status() {
  MsMouse::MsData d{};
  MsMouse::GetStatus(d);
  return "col=" + std::to_string(d.col) + " row=" + std::to_string(d.row) +
         " left=" + std::to_string(d.left_pressed) + " middle=" + std::to_string(d.middle_pressed) +
         " right=" + std::to_string(d.right_pressed);
}

// Reports every change of the mouse state, and every key (which tells the
// test that what was typed before it has been read), until the go file
// appears.
void mouse() {
  std::string last = status();
  result(last);
  while (!goGiven()) {
    const std::string now = status();
    if (now != last) result(now);
    last = now;
    if (IO::KeyPressed()) result("key " + takeText(false));
    Lib::Delay(10);
  }
}

// Reads lines through IO's string reader (the line editor behind the
// standard input channel) until an empty line.
void lines() {
  for (;;) {
    char text[300] = {};
    IO::RdStrRedirect(text, sizeof text);
    const std::string line(text);
    result("line " + std::to_string(line.size()) + " [" + line + "]");
    if (line.empty()) return;
  }
}

// Two raw reads of 10 units on the input channel.
void raw() {
  const IOChan::ChanId in = StdChans::InChan();
  for (int i = 0; i < 2; ++i) {
    char units[10] = {};
    std::uint32_t got = 0;
    in->rawRead(in, units, sizeof units, got);
    std::string shown;
    for (std::uint32_t k = 0; k < got; ++k) {
      const char c = units[k];
      shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    result("raw " + std::to_string(got) + " " + shown);
  }
}

// Opens the graphics window; the scenario then goes on as above.
void window() {
  if (!Graph::Init(1, 1, 500, 500)) {
    result("no window");
    return;
  }
  result("window");
}

// A "window-" scenario opens the graphics window first.
const testing_support::Scenario<void()> kScenarios[] = {
    {"keys", &keys},          {"window-keys", &keys}, {"full", &full}, {"mouse", &mouse},
    {"window-mouse", &mouse}, {"lines", &lines},      {"raw", &raw},
};

void Main(std::int32_t argc, char** argv) {
  K2C_InitFPP();
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  Lib::BEGIN();
  Graph::BEGIN();
  MsMouse::BEGIN();
  IO::BEGIN();
  if (argc < 4) return;
  auto* run = testing_support::ScenarioOrExit(kScenarios, argv[1]);
  results = std::fopen(argv[2], "w");
  if (results == nullptr) return;
  if (argc > 4) goFile = argv[4];
  const std::string_view scenario = argv[1];
  if (scenario.starts_with("window-")) window();
  ready(argv[3]);
  run();
  std::fclose(results);
}

}  // namespace

int main() {
  kStart(&Main);
}
