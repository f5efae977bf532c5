#include "tests/platform/user/UserTestSupport.h"
#include "platform/display/DisplayTesting.h"

namespace user_test {

using namespace win32;

namespace {

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Recorded().push_back({window, message, wParam, lParam});
  switch (message) {
    case WM_CREATE:
      return Behaviour().failCreate ? -1 : 0;
    case WM_CLOSE:
      if (Behaviour().ignoreClose) return 0;
      break;
    case WM_PAINT:
      if (Behaviour().paintWithBeginPaint) {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        PaintedAreas().push_back(paint.rcPaint);
        if (Behaviour().fillOnPaint) {
          RECT client;
          GetClientRect(window, &client);
          HBRUSH brush = CreateSolidBrush(Behaviour().paintColour);
          FillRect(paint.hdc, &client, brush);
          DeleteObject(brush);
        }
        EndPaint(window, &paint);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterClassNamed(const char* name, UINT style) {
  WNDCLASSA windowClass{};
  windowClass.style = style;
  windowClass.lpfnWndProc = RecordingProcedure;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = name;
  RegisterClassA(&windowClass);  // a second registration fails harmlessly
}

}  // namespace

std::vector<Seen>& Recorded() {
  thread_local std::vector<Seen> seen;
  return seen;
}

std::vector<UINT> RecordedNumbers() {
  std::vector<UINT> numbers;
  for (const Seen& s : Recorded()) numbers.push_back(s.message);
  return numbers;
}

void ClearRecorded() {
  Recorded().clear();
  PaintedAreas().clear();
}

ProcedureBehaviour& Behaviour() {
  thread_local ProcedureBehaviour behaviour;
  return behaviour;
}

std::vector<RECT>& PaintedAreas() {
  thread_local std::vector<RECT> areas;
  return areas;
}

void RegisterTestClasses() {
  RegisterClassNamed("RecordingClass", CS_OWNDC | CS_BYTEALIGNCLIENT);
  RegisterClassNamed("CommonDCClass", 0);
}

HWND CreateTestWindow(const char* className) {
  const int width = 200 + 2 * GetSystemMetrics(SM_CXBORDER);
  const int height = 100 + 2 * GetSystemMetrics(SM_CYBORDER) + GetSystemMetrics(SM_CYCAPTION);
  return CreateWindowExA(0, className, "Test window", WS_VISIBLE | WS_BORDER | WS_SYSMENU, 10, 20,
                         width, height, nullptr, nullptr, nullptr, nullptr);
}

void DrainMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

void UserTest::SetUp() {
  ASSERT_TRUE(detail::SelectDisplay(detail::DisplayKind::Memory));
  RegisterTestClasses();
  Behaviour() = ProcedureBehaviour{};
  DrainMessages();
  ClearRecorded();
}

namespace {
BOOL CALLBACK CollectThisThreadsWindow(HWND window, LPARAM list) {
  DWORD process = 0;
  if (GetWindowThreadProcessId(window, &process) == GetCurrentThreadId()) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}
}  // namespace

void UserTest::TearDown() {
  // Windows a test left open go, so the next test starts on an empty screen.
  std::vector<HWND> mine;
  EnumWindows(CollectThisThreadsWindow, reinterpret_cast<LPARAM>(&mine));
  for (HWND window : mine) DestroyWindow(window);
  DrainMessages();
  ClearRecorded();
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace user_test
