#include "graph/GraphServer.h"

#include <atomic>
#include <limits>

#include "graph/Graph.h"
#include "graph/GraphConsole.h"
#include "graph/GraphKeys.h"
#include "graph/ktsIGraph.h"
#include "runtime/TERMINATION.h"
#include "runtime/WinRTL.h"

namespace Graph::server {
namespace {

constexpr char kClassName[] = "GraphWnd";
constexpr char kWindowTitle[] = "Graph";
constexpr char kFailureCaption[] = "Graph";
constexpr win32::UINT kClassStyle = win32::CS_OWNDC | win32::CS_BYTEALIGNCLIENT;
constexpr win32::DWORD kWindowStyle =
    win32::WS_VISIBLE | win32::WS_BORDER | win32::WS_SYSMENU | win32::WS_MINIMIZEBOX;
constexpr win32::UINT kFailureBoxFlags = win32::MB_ICONERROR | win32::MB_SYSTEMMODAL;
constexpr win32::SIZE_T kServerStackSize = 8192;
constexpr std::uint32_t kHaltCode = 9;

// The server's side of the protocol drawn in GraphServer.h.
struct Server {
  bool started = false;          // the thread and its synchronisation objects exist
  bool windowClosed = false;     // Close closed the window; the thread waits for Open
  bool classRegistered = false;  // for the process: a retried start must not register again
  std::uint32_t windowX = 0;
  std::uint32_t windowY = 0;
  win32::HANDLE thread = nullptr;
  win32::DWORD threadId = 0;
  win32::HANDLE readyEvent = nullptr;
  win32::HANDLE reopenEvent = nullptr;
  win32::HANDLE windowLock = nullptr;
  win32::HANDLE bitmapLock = nullptr;
  WindowObjects objects;
  // The geometry of the window Open asks for, handed to the server thread
  // with the request, and whether the server could not make that window.
  Geometry asked{};
  bool refused = false;
} server;

// Counts the drawings made so far (changed under the bitmap lock); the
// repaint reads it to see whether a drawing met its painting.
std::atomic<std::uint64_t> drawingsMade{0};

std::int32_t gdiInt(std::uint32_t value) {
  return static_cast<std::int32_t>(value);
}

// Painting begins before the locks are taken: BeginPaint sends
// WM_ERASEBKGND, and the window hook must never run inside them. Between
// BeginPaint and EndPaint the window's own DC is clipped to the update area,
// so a drawing made on the caller's thread then reaches the window only in
// part; the repaint sees it by the drawing count and copies the whole
// bitmap again once the DC is whole.
void copyBitmapToWindow() {
  const HeldLock window(server.windowLock);
  const HeldLock bitmap(server.bitmapLock);
  win32::BitBlt(server.objects.windowDC, 0, 0, gdiInt(Width), gdiInt(Depth),
                server.objects.memoryDC, 0, 0, win32::SRCCOPY);
}

void repaint(win32::HWND window) {
  const std::uint64_t drawingsBefore = drawingsMade.load();
  win32::PAINTSTRUCT paint{};
  win32::BeginPaint(window, &paint);
  copyBitmapToWindow();
  win32::EndPaint(window, &paint);
  if (drawingsMade.load() != drawingsBefore) copyBitmapToWindow();
}

void realiseWindowPalette() {
  const HeldLock window(server.windowLock);
  const HeldLock bitmap(server.bitmapLock);
  win32::RealizePalette(server.objects.windowDC);
}

win32::LRESULT CALLBACK windowProcedure(win32::HWND window, win32::UINT message,
                                        win32::WPARAM wParam, win32::LPARAM lParam) {
  if (ktsIGraph::proc != nullptr) {
    ktsIGraph::proc(window, message, static_cast<std::uint32_t>(wParam),
                    static_cast<std::int32_t>(lParam));
  }
  switch (message) {
    case win32::WM_ACTIVATE:
      keys::ReleaseModifiers();
      return win32::DefWindowProcA(window, message, wParam, lParam);
    case win32::WM_PAINT:
      repaint(window);
      return 0;
    case win32::WM_CLOSE:
      return 0;  // the user cannot close the window
    case win32::WM_KEYDOWN:
    case win32::WM_SYSKEYDOWN:
      keys::Forward(true, lParam);
      return 0;
    case win32::WM_KEYUP:
    case win32::WM_SYSKEYUP:
      keys::Forward(false, lParam);
      return 0;
    case win32::WM_QUERYNEWPALETTE:
      realiseWindowPalette();
      return 0;
    default:
      return win32::DefWindowProcA(window, message, wParam, lParam);
  }
}

void registerWindowClass() {
  win32::WNDCLASSA windowClass{};
  windowClass.style = kClassStyle;
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = win32::GetModuleHandleA(nullptr);
  windowClass.hIcon = win32::LoadIconA(nullptr, win32::IDI_APPLICATION);
  windowClass.hCursor = win32::LoadCursorA(nullptr, win32::IDC_ARROW);
  windowClass.hbrBackground = win32::CreateSolidBrush(WinRTL::RGB(0, 0, 0));
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = kClassName;
  if (win32::RegisterClassA(&windowClass) == 0) HaltWithFailure("Win class was not registered");
}

// The most pixels a bitmap may have (as the GDI allows).
constexpr std::uint64_t kMaxBitmapPixels = std::uint64_t{1} << 26;

// What the frame adds to the drawing area, as the system draws it for the
// window's style: a drawing area of the asked size, whatever frame the
// system gives. An overlapped window always has a caption, which
// AdjustWindowRect counts only when the style names it. Without an answer,
// the classic frame: a border each side and the caption.
struct FrameSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
};

FrameSize frameSize() {
  win32::RECT frame{0, 0, 0, 0};
  if (win32::AdjustWindowRect(&frame, kWindowStyle | win32::WS_CAPTION, win32::FALSE)) {
    return FrameSize{std::int64_t{frame.right} - frame.left,
                     std::int64_t{frame.bottom} - frame.top};
  }
  return FrameSize{2 * win32::GetSystemMetrics(win32::SM_CXBORDER),
                   2 * win32::GetSystemMetrics(win32::SM_CYBORDER) +
                       win32::GetSystemMetrics(win32::SM_CYCAPTION)};
}

// The DCs go before their bitmap and palettes: an object still selected
// into a DC cannot be deleted.
void destroyWindowObjects(const WindowObjects& objects) {
  if (objects.window != nullptr) win32::DestroyWindow(objects.window);
  if (objects.memoryDC != nullptr) win32::DeleteDC(objects.memoryDC);
  if (objects.memoryBitmap != nullptr) win32::DeleteObject(objects.memoryBitmap);
  if (objects.memoryPalette != nullptr) win32::DeleteObject(objects.memoryPalette);
  if (objects.windowPalette != nullptr) win32::DeleteObject(objects.windowPalette);
}

// On the server thread, with the geometry Init asked for. The bitmap's
// content stays undefined until Init clears it. False when the display or
// the GDI refuses the size; then nothing is left behind.
bool makeWindow(WindowObjects& made) {
  const Geometry& asked = server.asked;
  const FrameSize frame = frameSize();
  const auto outerWidth = static_cast<std::int32_t>(asked.width + frame.width);
  const auto outerHeight = static_cast<std::int32_t>(asked.depth + frame.height);
  made.window = win32::CreateWindowExA(0, kClassName, kWindowTitle, kWindowStyle, gdiInt(asked.x),
                                       gdiInt(asked.y), outerWidth, outerHeight, nullptr, nullptr,
                                       win32::GetModuleHandleA(nullptr), nullptr);
  if (made.window == nullptr) return false;
  made.windowDC = win32::GetDC(made.window);
  made.memoryDC = win32::CreateCompatibleDC(made.windowDC);
  made.memoryBitmap =
      win32::CreateCompatibleBitmap(made.windowDC, gdiInt(asked.width), gdiInt(asked.depth));
  if (made.memoryDC == nullptr || made.memoryBitmap == nullptr) {
    destroyWindowObjects(made);
    made = WindowObjects{};
    return false;
  }
  win32::SelectObject(made.memoryDC, made.memoryBitmap);
  return true;
}

WindowObjects currentWindow() {
  return server.objects;
}

// The caller waits for the server's answer meanwhile, so the size it reads
// afterwards is the one of the window it then draws into.
void installWindow(const WindowObjects& objects) {
  server.objects = objects;
  Width = server.asked.width;
  Depth = server.asked.depth;
  server.windowX = server.asked.x;
  server.windowY = server.asked.y;
}

void createWindow() {
  WindowObjects made;
  if (!makeWindow(made)) HaltWithFailure(kWindowFailure);
  installWindow(made);
}

// A new window starts wholly invalid. Its first paint (an erase, then the
// copy) is made before Init goes on, so that it never meets Init's first
// drawings half-way.
void paintNewWindow() {
  win32::UpdateWindow(server.objects.window);
}

void destroyWindow() {
  destroyWindowObjects(currentWindow());
  installWindow(WindowObjects{});
}

// Init on an open window: the new window is made before the old one goes,
// so a size the display refuses leaves the old window with its picture.
void replaceWindow() {
  WindowObjects made;
  server.refused = !makeWindow(made);
  if (server.refused) {
    ShowFailure(kWindowFailure, nullptr);
  } else {
    const WindowObjects old = currentWindow();
    installWindow(made);
    destroyWindowObjects(old);
    paintNewWindow();
  }
  win32::SetEvent(server.readyEvent);
}

// A failure box for the caller: while the window is open the server thread
// shows it, since a display may show dialogs only on the thread that runs
// its windows.
void showFailureForCaller(const char* text) {
  ShowFailure(text, nullptr);
  win32::SetEvent(server.readyEvent);
}

// Requests of the caller's thread, posted to the server thread by its
// thread identifier.
constexpr win32::UINT kReplaceWindowRequest = win32::WM_APP + 1;
constexpr win32::UINT kShowFailureRequest = win32::WM_APP + 2;

bool handleRequest(const win32::MSG& message) {
  if (message.hwnd != nullptr) return false;
  switch (message.message) {
    case kReplaceWindowRequest:
      replaceWindow();
      return true;
    case kShowFailureRequest:
      showFailureForCaller(reinterpret_cast<const char*>(message.lParam));
      return true;
    default:
      return false;
  }
}

void runMessageLoop() {
  win32::MSG message{};
  while (win32::GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (handleRequest(message)) continue;
    win32::TranslateMessage(&message);
    win32::DispatchMessageA(&message);
  }
}

// While the window is closed: each Init asks for one; a size the display
// refuses is answered as such, and the server waits for the next Init.
void awaitReopening() {
  for (;;) {
    WaitFor(server.reopenEvent);
    WindowObjects made;
    server.refused = !makeWindow(made);
    if (!server.refused) {
      installWindow(made);
      return;
    }
    ShowFailure(kWindowFailure, nullptr);
    win32::SetEvent(server.readyEvent);
  }
}

win32::DWORD WINAPI serveWindow(win32::LPVOID) {
  createWindow();
  for (;;) {
    paintNewWindow();
    win32::SetEvent(server.readyEvent);
    runMessageLoop();
    destroyWindow();
    win32::SetEvent(server.readyEvent);
    awaitReopening();
  }
}

win32::HANDLE newAutoResetEvent() {
  return win32::CreateEventA(nullptr, win32::FALSE, win32::FALSE, nullptr);
}

// The first Init, or a later one after a failed start: makes what is still
// missing and waits until the server has created the window.
bool startServer() {
  if (!server.classRegistered) {
    console::Discover();
    registerWindowClass();
    server.classRegistered = true;
  }
  if (server.readyEvent == nullptr) server.readyEvent = newAutoResetEvent();
  if (server.reopenEvent == nullptr) server.reopenEvent = newAutoResetEvent();
  if (server.readyEvent == nullptr || server.reopenEvent == nullptr) {
    ShowFailure("Event not created", kFailureCaption);
    return false;
  }
  if (server.windowLock == nullptr)
    server.windowLock = win32::CreateMutexA(nullptr, win32::FALSE, nullptr);
  if (server.windowLock == nullptr) {
    ShowFailure("Mutex not created", kFailureCaption);
    return false;
  }
  server.thread =
      win32::CreateThread(nullptr, kServerStackSize, serveWindow, nullptr, 0, &server.threadId);
  if (server.thread == nullptr) {
    ShowFailure("Graph server not run", kFailureCaption);
    return false;
  }
  server.started = true;
  WaitFor(server.readyEvent);
  return true;
}

bool reopenWindow() {
  win32::SetEvent(server.reopenEvent);
  WaitFor(server.readyEvent);
  return !server.refused;
}

bool windowOpen() {
  return server.started && !server.windowClosed;
}

// The server answers on readyEvent once it has handled the request; a
// request that cannot be posted is not waited for.
bool askServer(win32::UINT request, win32::LPARAM parameter = 0) {
  if (!win32::PostThreadMessageA(server.threadId, request, 0, parameter)) return false;
  WaitFor(server.readyEvent);
  return true;
}

bool replaceOpenWindow() {
  if (!askServer(kReplaceWindowRequest)) return false;
  return !server.refused;
}

}  // namespace

void WaitFor(win32::HANDLE object) {
  while (win32::WaitForSingleObject(object, win32::INFINITE) == win32::WAIT_IO_COMPLETION) {
  }
}

DrawingLock::DrawingLock() : bitmap_(server.bitmapLock) {
  ++drawingsMade;
}

WindowObjects& Objects() {
  return server.objects;
}

win32::DWORD ThreadId() {
  return server.threadId;
}

void ShowFailure(const char* text, const char* caption) {
  win32::MessageBoxA(nullptr, text, caption, kFailureBoxFlags);
}

void HaltWithFailure(const char* text) {
  ShowFailure(text, nullptr);
  K2C_HALT(kHaltCode);
}

void ShowFailureOnDisplay(const char* text) {
  if (windowOpen() && askServer(kShowFailureRequest, reinterpret_cast<win32::LPARAM>(text))) {
    return;
  }
  ShowFailure(text, nullptr);
}

void Prepare() {
  server.bitmapLock = win32::CreateMutexA(nullptr, win32::FALSE, nullptr);
  server.started = false;
  server.windowClosed = false;
}

bool WindowSizeFits(std::uint32_t width, std::uint32_t depth) {
  if (std::uint64_t{width} * depth > kMaxBitmapPixels) return false;
  const FrameSize frame = frameSize();
  constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
  return width + frame.width <= kIntMax && depth + frame.height <= kIntMax;
}

bool Open(const Geometry& asked) {
  server.asked = asked;
  if (!server.started) {
    if (!startServer()) return false;
  } else if (!server.windowClosed) {
    if (!replaceOpenWindow()) return false;
  } else if (!reopenWindow()) {
    return false;
  }
  server.windowClosed = false;
  return true;
}

void Close() {
  // A second Close would wait for a server that is not in its message loop.
  if (!server.started || server.windowClosed) return;
  win32::PostThreadMessageA(server.threadId, win32::WM_QUIT, 0, 0);
  WaitFor(server.readyEvent);
  server.windowClosed = true;
}

void Finalise() {
  win32::CloseHandle(server.windowLock);
  win32::CloseHandle(server.readyEvent);
  win32::CloseHandle(server.reopenEvent);
  win32::CloseHandle(server.bitmapLock);
}

}  // namespace Graph::server
