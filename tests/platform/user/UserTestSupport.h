// Shared pieces of the window manager tests: a window class whose procedure
// records every message, and helpers that run the calling thread's queue.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Win32.h"
#include "platform/display/MemoryDisplay.h"

namespace user_test {

struct Seen {
  win32::HWND window;
  win32::UINT message;
  win32::WPARAM wParam;
  win32::LPARAM lParam;
};

// Messages the recording procedure received on this thread, oldest first.
std::vector<Seen>& Recorded();
std::vector<win32::UINT> RecordedNumbers();
void ClearRecorded();

// What the recording procedure does besides recording.
struct ProcedureBehaviour {
  bool ignoreClose = false;         // WM_CLOSE answered 0, as the graphics window does
  bool failCreate = false;          // WM_CREATE answers -1
  bool paintWithBeginPaint = true;  // WM_PAINT: BeginPaint/EndPaint, rcPaint kept
  bool fillOnPaint = false;         // ... and the whole client filled with paintColour
  win32::COLORREF paintColour = 0;
};
ProcedureBehaviour& Behaviour();
// rcPaint of every BeginPaint made by the recording procedure.
std::vector<win32::RECT>& PaintedAreas();

// "RecordingClass" (CS_OWNDC) and "CommonDCClass" (no own DC), registered once.
void RegisterTestClasses();
// A visible overlapped window of the recording class with a 200 x 100 client
// area at outer position (10, 20).
win32::HWND CreateTestWindow(const char* className = "RecordingClass");

// Dispatches every message waiting for this thread, painting included.
void DrainMessages();

// Base fixture: memory display, classes registered, empty queue and records.
class UserTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

bool SameRect(const win32::RECT& a, const win32::RECT& b);

}  // namespace user_test
