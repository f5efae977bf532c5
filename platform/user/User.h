// The window manager subset (user32): window classes, windows, per-thread
// message queues, painting, window enumeration, system metrics and message
// boxes. Windows show on the display back-end chosen in
// platform/display/Display.h.
//
// Threads: a window belongs to the thread that created it; its procedure
// runs only on that thread. Every thread gets a message queue on first use
// (also when another thread posts to it, so an early post is never lost).
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

// ---- Messages --------------------------------------------------------------
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_NCCREATE = 0x0081;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_DEADCHAR = 0x0103;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_SYSCHAR = 0x0106;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
inline constexpr UINT WM_QUERYNEWPALETTE = 0x030F;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// WM_ACTIVATE wParam
inline constexpr WPARAM WA_INACTIVE = 0;
inline constexpr WPARAM WA_ACTIVE = 1;
inline constexpr WPARAM WA_CLICKACTIVE = 2;

// Mouse message wParam
inline constexpr WPARAM MK_LBUTTON = 0x0001;
inline constexpr WPARAM MK_RBUTTON = 0x0002;
inline constexpr WPARAM MK_SHIFT = 0x0004;
inline constexpr WPARAM MK_CONTROL = 0x0008;
inline constexpr WPARAM MK_MBUTTON = 0x0010;

// Virtual-key codes (wParam of key messages)
inline constexpr WPARAM VK_BACK = 0x08;
inline constexpr WPARAM VK_TAB = 0x09;
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_SHIFT = 0x10;
inline constexpr WPARAM VK_CONTROL = 0x11;
inline constexpr WPARAM VK_MENU = 0x12;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr WPARAM VK_SPACE = 0x20;
inline constexpr WPARAM VK_LEFT = 0x25;
inline constexpr WPARAM VK_UP = 0x26;
inline constexpr WPARAM VK_RIGHT = 0x27;
inline constexpr WPARAM VK_DOWN = 0x28;

// PeekMessageA
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// ---- Classes and windows ---------------------------------------------------
inline constexpr UINT CS_VREDRAW = 0x0001;
inline constexpr UINT CS_HREDRAW = 0x0002;
inline constexpr UINT CS_DBLCLKS = 0x0008;
inline constexpr UINT CS_OWNDC = 0x0020;
inline constexpr UINT CS_CLASSDC = 0x0040;
inline constexpr UINT CS_NOCLOSE = 0x0200;
inline constexpr UINT CS_SAVEBITS = 0x0800;
inline constexpr UINT CS_BYTEALIGNCLIENT = 0x1000;
inline constexpr UINT CS_BYTEALIGNWINDOW = 0x2000;
inline constexpr UINT CS_GLOBALCLASS = 0x4000;

inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_MINIMIZE = 0x20000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_DLGFRAME = 0x00400000;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_HSCROLL = 0x00100000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_THICKFRAME = 0x00040000;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
inline constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

using WNDPROC = LRESULT(CALLBACK*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
using WNDENUMPROC = BOOL(CALLBACK*)(HWND window, LPARAM lParam);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

// lParam of WM_NCCREATE and WM_CREATE.
struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

// The class atom, or 0: ERROR_CLASS_ALREADY_EXISTS for a name already
// registered (names compare without regard to case), ERROR_INVALID_PARAMETER
// for a class without name or procedure.
ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);

// Creates a top-level window owned by the calling thread and shows it on the
// display. Sends WM_NCCREATE, WM_CREATE and, for a visible window,
// WM_SHOWWINDOW, WM_SIZE and WM_MOVE; a visible window starts wholly invalid.
// Fails at once (NULL) when the display cannot show a window.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
// Only the owning thread may destroy a window (ERROR_ACCESS_DENIED otherwise).
// Sends WM_DESTROY and WM_NCDESTROY.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT CALLBACK DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);

// Rectangles: the client rectangle in client coordinates (origin 0, 0), the
// window rectangle in screen coordinates.
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
// Grows a client rectangle to the window rectangle a top-level window of the
// style needs around it: the frame of the style's border bits (none without
// them) and a caption only for WS_CAPTION, as Windows reads the style; the
// caption CreateWindowExA gives every overlapped window is not counted, so
// callers pass WS_CAPTION for one. A menu adds SM_CYMENU. FALSE for no rect.
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);

// Text. The console's own window (listed by EnumWindows) has the console
// title as its text.
int GetWindowTextA(HWND window, LPSTR buffer, int maxCount);
int GetWindowTextLengthA(HWND window);
BOOL SetWindowTextA(HWND window, LPCSTR text);

// Top-level windows, top first; the callback stops the walk by answering
// FALSE, and then EnumWindows answers FALSE too.
BOOL EnumWindows(WNDENUMPROC callback, LPARAM lParam);

// ---- Messages and queues ---------------------------------------------------
// Waits for the next message; 0 for WM_QUIT, -1 on a bad window filter.
// Order: posted and input messages as they came, then WM_PAINT for an
// invalid window once nothing else is waiting.
BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// Posts WM_CHAR after a key-down with a character.
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Calls the window procedure of a window of the calling thread. A window of
// another thread cannot be sent to (0, ERROR_ACCESS_DENIED).
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Mouse capture ---------------------------------------------------------
// Mouse messages go to the window under the pointer, and only while the
// pointer is over its client area; a button held down does not change that.
// A window that has the capture gets every mouse message instead, with
// positions in its client coordinates (outside its area too, so they may be
// negative). SetCapture answers the window that had the capture before.
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
// The capture window if it belongs to the calling thread, else NULL.
HWND GetCapture();

// ---- Painting --------------------------------------------------------------
// A null rectangle means the whole client area.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
// The bounding rectangle of the update region; FALSE when it is empty.
BOOL GetUpdateRect(HWND window, RECT* rect, BOOL erase);
// Sends WM_PAINT at once if the window is invalid.
BOOL UpdateWindow(HWND window);
// Validates the update region and returns a DC clipped to it: the window's
// own DC for CS_OWNDC classes, else a DC for this paint only. Sends
// WM_ERASEBKGND first when the update was asked with erasing.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
// A DC on the window's client area (its own DC for CS_OWNDC classes, always
// the same); GetDC(NULL) is a DC on the whole screen.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

// ---- System ----------------------------------------------------------------
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_CXVSCROLL = 2;
inline constexpr int SM_CYHSCROLL = 3;
inline constexpr int SM_CYCAPTION = 4;
inline constexpr int SM_CXBORDER = 5;
inline constexpr int SM_CYBORDER = 6;
inline constexpr int SM_CXDLGFRAME = 7;
inline constexpr int SM_CYDLGFRAME = 8;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
inline constexpr int SM_CXCURSOR = 13;
inline constexpr int SM_CYCURSOR = 14;
inline constexpr int SM_CYMENU = 15;
inline constexpr int SM_MOUSEPRESENT = 19;
inline constexpr int SM_CXMIN = 28;
inline constexpr int SM_CYMIN = 29;
inline constexpr int SM_CXFRAME = 32;
inline constexpr int SM_CYFRAME = 33;
inline constexpr int SM_CMOUSEBUTTONS = 43;

// The classic (non-themed) metrics: caption 19 pixels high (18 for the bar
// and 1 for the line under it), borders 1 pixel; screen size from the display.
int GetSystemMetrics(int index);

// Stock icons and cursors: handles that name the system's images. Only the
// system ones (no instance) exist.
#define SHAPEBOARD_MAKEINTRESOURCEA(id) reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(id))
inline const LPCSTR IDI_APPLICATION = SHAPEBOARD_MAKEINTRESOURCEA(32512);
inline const LPCSTR IDI_ERROR = SHAPEBOARD_MAKEINTRESOURCEA(32513);
inline const LPCSTR IDI_QUESTION = SHAPEBOARD_MAKEINTRESOURCEA(32514);
inline const LPCSTR IDI_WARNING = SHAPEBOARD_MAKEINTRESOURCEA(32515);
inline const LPCSTR IDI_INFORMATION = SHAPEBOARD_MAKEINTRESOURCEA(32516);
inline const LPCSTR IDC_ARROW = SHAPEBOARD_MAKEINTRESOURCEA(32512);
inline const LPCSTR IDC_IBEAM = SHAPEBOARD_MAKEINTRESOURCEA(32513);
inline const LPCSTR IDC_WAIT = SHAPEBOARD_MAKEINTRESOURCEA(32514);
inline const LPCSTR IDC_CROSS = SHAPEBOARD_MAKEINTRESOURCEA(32515);
#undef SHAPEBOARD_MAKEINTRESOURCEA
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);

// ---- Message boxes ---------------------------------------------------------
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_ICONERROR = 0x00000010;
inline constexpr UINT MB_ICONWARNING = 0x00000030;
inline constexpr UINT MB_ICONINFORMATION = 0x00000040;
inline constexpr UINT MB_SYSTEMMODAL = 0x00001000;
inline constexpr UINT MB_TASKMODAL = 0x00002000;
inline constexpr UINT MB_SETFOREGROUND = 0x00010000;
inline constexpr int IDOK = 1;

// Shows a dialog where a display is available (SDL back-end with $DISPLAY
// set; while SDL video runs, only on its thread) and writes "caption: text"
// on standard error in every case, so the message also reaches logs. A null
// caption reads "Error". Always IDOK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

}  // namespace win32
