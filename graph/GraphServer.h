// The graphics server: a thread of the library's own that makes the window,
// runs its message loop and window procedure, repaints it from the
// off-screen bitmap, and releases it again.
//
// Protocol. The server thread makes and releases the window, its DCs, the
// bitmap and the palettes; the caller's thread reads them only between the
// handshakes on readyEvent (it waits there while the server changes them),
// and owns the flags and the position. One event per direction, so that
// neither side can take its own signal: readyEvent tells the caller a
// request is done (the window made, replaced, refused or destroyed),
// reopenEvent tells the waiting server to make the window again. The
// repaint takes windowLock, then bitmapLock; every drawing takes bitmapLock
// (DrawingLock), so the repaint never copies a half-drawn bitmap and the
// two DCs never see a drawing apart.
#pragma once

#include <cstdint>

#include "platform/Win32.h"

namespace Graph::server {

// Outer top-left corner and drawing-area size.
struct Geometry {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t depth = 0;
};

// What one window is made of; the server thread makes and releases it.
struct WindowObjects {
  win32::HWND window = nullptr;
  win32::HDC windowDC = nullptr;
  win32::HDC memoryDC = nullptr;
  win32::HBITMAP memoryBitmap = nullptr;
  // Selected into the two DCs; made under the bitmap lock by each palette
  // change, deleted with the window.
  win32::HPALETTE windowPalette = nullptr;
  win32::HPALETTE memoryPalette = nullptr;
};

constexpr char kWindowFailure[] = "Couldn't create main window";

// Every wait here needs its object (a lock held, the server's answer): a
// queued callback that ends the wait early with WAIT_IO_COMPLETION only
// sends it round again.
void WaitFor(win32::HANDLE object);

// Owns a mutex for one scope. A raise that unwinds through the scope (a
// break, a trap in a hook) lets it go, so the other thread never waits for
// a drawing that has gone.
class HeldLock {
 public:
  explicit HeldLock(win32::HANDLE mutex) : mutex_(mutex) { WaitFor(mutex_); }
  ~HeldLock() { win32::ReleaseMutex(mutex_); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  win32::HANDLE mutex_;
};

// The bitmap lock for one drawing, counted: the repaint sees by the count
// whether a drawing met its painting.
class DrawingLock {
 public:
  DrawingLock();
  DrawingLock(const DrawingLock&) = delete;
  DrawingLock& operator=(const DrawingLock&) = delete;

 private:
  HeldLock bitmap_;
};

// The window's objects; see the protocol above for who may read them when.
WindowObjects& Objects();
win32::DWORD ThreadId();

void ShowFailure(const char* text, const char* caption);
[[noreturn]] void HaltWithFailure(const char* text);
// A failure box shown by the server thread while the window is open (a
// display may show dialogs only on the thread that runs its windows).
void ShowFailureOnDisplay(const char* text);

// Module start: the bitmap lock, nothing started.
void Prepare();
// A bitmap of the size can be made, and the window's outer size (the frame
// added) is an int.
bool WindowSizeFits(std::uint32_t width, std::uint32_t depth);
// Makes the window Init asks for: starts the server, replaces the open
// window or reopens a closed one. False when that failed (after its box).
bool Open(const Geometry& asked);
// Closes the window; the server thread waits for the next Open.
void Close();
// Closes the synchronisation handles; the thread and window end with the
// process.
void Finalise();

}  // namespace Graph::server
