// Window classes, window creation and destruction, text, rectangles,
// enumeration, system metrics and stock images.
#include <algorithm>
#include <cstring>
#include <thread>

#include "tests/platform/user/UserTestSupport.h"
#include "platform/display/DisplayTesting.h"

namespace user_test {
namespace {

using namespace win32;

LRESULT CALLBACK PlainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

using ClassesTest = UserTest;

TEST_F(ClassesTest, RegistersOnceAndRefusesTheSameNameInAnyCase) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = PlainProcedure;
  windowClass.lpszClassName = "OnceOnly";
  EXPECT_NE(RegisterClassA(&windowClass), 0);

  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&windowClass), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

  windowClass.lpszClassName = "ONCEONLY";
  EXPECT_EQ(RegisterClassA(&windowClass), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

  EXPECT_TRUE(UnregisterClassA("onceonly", nullptr));
  windowClass.lpszClassName = "OnceOnly";
  EXPECT_NE(RegisterClassA(&windowClass), 0);
}

TEST_F(ClassesTest, RefusesClassesWithoutNameOrProcedure) {
  WNDCLASSA windowClass{};
  windowClass.lpszClassName = "NoProcedure";
  EXPECT_EQ(RegisterClassA(&windowClass), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  windowClass.lpfnWndProc = PlainProcedure;
  windowClass.lpszClassName = nullptr;
  EXPECT_EQ(RegisterClassA(&windowClass), 0);
  EXPECT_EQ(RegisterClassA(nullptr), 0);
}

TEST_F(ClassesTest, KeepsItsOwnCopyOfTheClassName) {
  char name[] = "CopiedName";
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = PlainProcedure;
  windowClass.lpszClassName = name;
  ASSERT_NE(RegisterClassA(&windowClass), 0);
  std::strcpy(name, "Scribbled!");
  HWND window = CreateWindowExA(0, "CopiedName", "", WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                nullptr, nullptr);
  EXPECT_NE(window, nullptr);
  DestroyWindow(window);
}

TEST_F(ClassesTest, ClassWithWindowsCannotBeUnregistered) {
  HWND window = CreateTestWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(UnregisterClassA("RecordingClass", nullptr));
  DestroyWindow(window);
}

using WindowsTest = UserTest;

TEST_F(WindowsTest, UnknownClassFails) {
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(WindowsTest, CreationSendsTheStartMessagesInOrder) {
  HWND window = CreateTestWindow();
  ASSERT_NE(window, nullptr);
  const std::vector<UINT> expected{WM_NCCREATE, WM_CREATE, WM_SHOWWINDOW, WM_SIZE, WM_MOVE};
  EXPECT_EQ(RecordedNumbers(), expected);
  for (const Seen& s : Recorded()) EXPECT_EQ(s.window, window);
  // WM_SIZE carries the client size, WM_MOVE the client origin on the screen.
  EXPECT_EQ(Recorded()[3].lParam, (100 << 16) | 200);
  EXPECT_EQ(Recorded()[4].lParam, ((20 + 1 + 19) << 16) | (10 + 1));
}

struct CreateSeen {
  CREATESTRUCTA create{};
  std::string name;
  std::string className;
  int count = 0;
};
thread_local CreateSeen createSeen;

LRESULT CALLBACK CapturingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    createSeen.create = *reinterpret_cast<CREATESTRUCTA*>(lParam);
    createSeen.name = createSeen.create.lpszName;
    createSeen.className = createSeen.create.lpszClass;
    ++createSeen.count;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(WindowsTest, CreateStructCarriesTheArguments) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CapturingProcedure;
  windowClass.lpszClassName = "Capturing";
  RegisterClassA(&windowClass);
  int parameter = 42;
  HWND window = CreateWindowExA(0, "Capturing", "Named", WS_VISIBLE | WS_BORDER, 5, 6, 70, 80,
                                nullptr, nullptr, nullptr, &parameter);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(createSeen.count, 1);
  EXPECT_EQ(createSeen.create.lpCreateParams, &parameter);
  EXPECT_EQ(createSeen.create.x, 5);
  EXPECT_EQ(createSeen.create.y, 6);
  EXPECT_EQ(createSeen.create.cx, 70);
  EXPECT_EQ(createSeen.create.cy, 80);
  EXPECT_EQ(static_cast<DWORD>(createSeen.create.style), WS_VISIBLE | WS_BORDER);
  EXPECT_EQ(createSeen.name, "Named");
  EXPECT_EQ(createSeen.className, "Capturing");
  DestroyWindow(window);
}

TEST_F(WindowsTest, CreateFailingInWmCreateReturnsNullAndDestroys) {
  Behaviour().failCreate = true;
  EXPECT_EQ(CreateTestWindow(), nullptr);
  const auto numbers = RecordedNumbers();
  ASSERT_GE(numbers.size(), 4u);
  EXPECT_EQ(numbers[1], static_cast<UINT>(WM_CREATE));
  EXPECT_EQ(numbers[2], static_cast<UINT>(WM_DESTROY));
  EXPECT_EQ(numbers[3], static_cast<UINT>(WM_NCDESTROY));
}

TEST_F(WindowsTest, ClientAreaIsOuterSizeLessBordersAndCaption) {
  EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), 19);
  EXPECT_EQ(GetSystemMetrics(SM_CXBORDER), 1);
  EXPECT_EQ(GetSystemMetrics(SM_CYBORDER), 1);
  // The graphics window's style and geometry: 500 x 500 drawing area.
  HWND window = CreateWindowExA(0, "RecordingClass", "Graph", 0x108A0000, 1, 1, 500 + 2,
                                500 + 2 + 19, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  RECT client;
  ASSERT_TRUE(GetClientRect(window, &client));
  EXPECT_TRUE(SameRect(client, {0, 0, 500, 500}));
  RECT outer;
  ASSERT_TRUE(GetWindowRect(window, &outer));
  EXPECT_TRUE(SameRect(outer, {1, 1, 503, 522}));
}

// What AdjustWindowRect adds is the frame a window of the style gets: a
// window made at the grown size has exactly the asked client area. Without
// WS_CAPTION's bits no caption is counted, as on Windows, though an
// overlapped window always gets one.
TEST_F(WindowsTest, AdjustWindowRectGivesTheFrameTheWindowGets) {
  struct Row {
    DWORD style;
    BOOL menu;
    RECT grown;
  };
  for (const Row& row : {
           Row{0x108A0000 | WS_CAPTION, FALSE, {9, -8, 511, 521}},
           Row{0x108A0000, FALSE, {9, 11, 511, 521}},
           Row{WS_OVERLAPPEDWINDOW, FALSE, {6, -11, 514, 524}},
           Row{WS_POPUP | WS_CAPTION, FALSE, {9, -8, 511, 521}},
           Row{WS_POPUP | WS_DLGFRAME, FALSE, {7, 9, 513, 523}},
           Row{WS_POPUP | WS_BORDER, FALSE, {9, 11, 511, 521}},
           Row{WS_POPUP, FALSE, {10, 12, 510, 520}},
           Row{WS_POPUP | WS_CAPTION, TRUE, {9, -27, 511, 521}},
       }) {
    RECT rect{10, 12, 510, 520};
    ASSERT_TRUE(AdjustWindowRect(&rect, row.style, row.menu));
    EXPECT_TRUE(SameRect(rect, row.grown)) << std::hex << row.style;
    const bool captionCounted =
        (row.style & WS_CAPTION) == WS_CAPTION || (row.style & WS_POPUP) != 0;
    if (row.menu || !captionCounted) continue;  // no menus here; the caption the style leaves out
    HWND window = CreateWindowExA(0, "RecordingClass", "Adjusted", row.style, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_TRUE(SameRect(client, {0, 0, 500, 508})) << std::hex << row.style;
    EXPECT_TRUE(DestroyWindow(window));
  }
  EXPECT_FALSE(AdjustWindowRect(nullptr, WS_OVERLAPPEDWINDOW, FALSE));
}

// Positions so far out that the far edges would pass the largest int: the
// window keeps its size and its edges stay ordered.
TEST_F(WindowsTest, WindowAtTheEdgeOfTheIntRangeKeepsItsSize) {
  constexpr int kMax = 0x7FFFFFFF;
  struct Row {
    int x, y, width, height;
  };
  for (const Row& row : {Row{0x7FFFFF00, 1, 502, 521}, Row{1, 0x7FFFFFF0, 502, 521},
                         Row{kMax, kMax, 0, 0}, Row{kMax - 10, 0, 100, 100}}) {
    HWND window = CreateWindowExA(0, "RecordingClass", "Edge", 0x108A0000, row.x, row.y, row.width,
                                  row.height, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr) << row.x << "," << row.y;
    RECT outer;
    ASSERT_TRUE(GetWindowRect(window, &outer));
    EXPECT_EQ(outer.right - outer.left, row.width) << row.x << "," << row.y;
    EXPECT_EQ(outer.bottom - outer.top, row.height) << row.x << "," << row.y;
    EXPECT_LE(outer.left, row.x);
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, std::max(row.width - 2, 0));
    EXPECT_EQ(client.bottom, std::max(row.height - 21, 0));
    EXPECT_TRUE(DestroyWindow(window));
  }
}

TEST_F(WindowsTest, DestroySendsDestroyMessagesAndInvalidatesTheHandle) {
  HWND window = CreateTestWindow();
  ClearRecorded();
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(RecordedNumbers(), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
}

TEST_F(WindowsTest, HandlesAreNotReused) {
  HWND first = CreateTestWindow();
  DestroyWindow(first);
  HWND second = CreateTestWindow();
  EXPECT_NE(first, second);
  EXPECT_FALSE(IsWindow(first));
}

TEST_F(WindowsTest, OnlyTheOwningThreadDestroysAWindow) {
  HWND window = CreateTestWindow();
  BOOL result = TRUE;
  DWORD error = 0;
  std::thread other([&] {
    result = DestroyWindow(window);
    error = GetLastError();
  });
  other.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(WindowsTest, WindowsOfAThreadGoWhenTheThreadEnds) {
  HWND window = nullptr;
  std::thread other([&] {
    RegisterTestClasses();
    window = CreateTestWindow();
  });
  other.join();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(WindowsTest, TextIsSetAndReadWithTruncation) {
  HWND window = CreateTestWindow();
  char text[64];
  EXPECT_EQ(GetWindowTextA(window, text, sizeof text), 11);
  EXPECT_STREQ(text, "Test window");
  EXPECT_TRUE(SetWindowTextA(window, "Graph"));
  EXPECT_EQ(GetWindowTextA(window, text, sizeof text), 5);
  EXPECT_STREQ(text, "Graph");
  EXPECT_EQ(GetWindowTextA(window, text, 3), 2);
  EXPECT_STREQ(text, "Gr");
  EXPECT_EQ(GetWindowTextLengthA(window), 5);
  EXPECT_EQ(GetWindowTextA(window, text, 0), 0);
}

TEST_F(WindowsTest, AnotherThreadReadsTheTextWithoutTheProcedure) {
  HWND window = CreateTestWindow();
  ClearRecorded();
  std::string seen;
  std::thread other([&] {
    char text[64] = {};
    GetWindowTextA(window, text, sizeof text);
    seen = text;
  });
  other.join();
  EXPECT_EQ(seen, "Test window");
  EXPECT_TRUE(Recorded().empty());
}

struct Found {
  std::vector<HWND> windows;
  std::vector<std::string> texts;
  std::size_t stopAfter = 1000;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
  auto* found = reinterpret_cast<Found*>(lParam);
  char text[256];
  GetWindowTextA(window, text, sizeof text);
  found->windows.push_back(window);
  found->texts.push_back(text);
  return found->windows.size() < found->stopAfter ? TRUE : FALSE;
}

TEST_F(WindowsTest, EnumWindowsListsWindowsTopFirstAndTheConsole) {
  HWND first = CreateTestWindow();
  HWND second = CreateTestWindow();
  SetWindowTextA(second, "Second");
  ASSERT_TRUE(SetConsoleTitleA("__marker title__"));
  Found found;
  EXPECT_TRUE(EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found)));
  ASSERT_EQ(found.windows.size(), 3u);
  EXPECT_EQ(found.windows[0], second);
  EXPECT_EQ(found.texts[0], "Second");
  EXPECT_EQ(found.windows[1], first);
  EXPECT_EQ(found.texts[2], "__marker title__");
  EXPECT_TRUE(IsWindow(found.windows[2]));
}

TEST_F(WindowsTest, EnumWindowsStopsWhenTheCallbackSaysSo) {
  CreateTestWindow();
  CreateTestWindow();
  Found found;
  found.stopAfter = 1;
  EXPECT_FALSE(EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found)));
  EXPECT_EQ(found.windows.size(), 1u);
}

TEST_F(WindowsTest, ConsoleWindowTextIsTheConsoleTitle) {
  ASSERT_TRUE(SetConsoleTitleA("before"));
  Found found;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found));
  HWND console = found.windows.back();
  EXPECT_TRUE(SetWindowTextA(console, "after"));
  char title[64];
  GetConsoleTitleA(title, sizeof title);
  EXPECT_STREQ(title, "after");
  char text[64];
  EXPECT_EQ(GetWindowTextA(console, text, sizeof text), 5);
  EXPECT_STREQ(text, "after");
}

TEST_F(WindowsTest, DefaultProcedureDestroysOnCloseUnlessIgnored) {
  HWND closing = CreateTestWindow();
  SendMessageA(closing, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(closing));

  Behaviour().ignoreClose = true;
  HWND staying = CreateTestWindow();
  SendMessageA(staying, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(staying));
}

TEST_F(WindowsTest, SendMessageToAnotherThreadsWindowFails) {
  HWND window = CreateTestWindow();
  ClearRecorded();
  LRESULT result = 1;
  DWORD error = 0;
  std::thread other([&] {
    result = SendMessageA(window, WM_USER, 0, 0);
    error = GetLastError();
  });
  other.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Recorded().empty());
}

TEST(SystemTest, MetricsAndStockImages) {
  ASSERT_TRUE(detail::SelectDisplay(detail::DisplayKind::Memory));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
  EXPECT_EQ(GetSystemMetrics(12345), 0);
  HICON icon = LoadIconA(nullptr, IDI_APPLICATION);
  EXPECT_NE(icon, nullptr);
  EXPECT_EQ(LoadIconA(nullptr, IDI_APPLICATION), icon);
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  EXPECT_EQ(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(1)), nullptr);
  EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(0x400000), IDC_ARROW), nullptr);
}

}  // namespace
}  // namespace user_test
