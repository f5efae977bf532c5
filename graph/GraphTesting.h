// For tests and tools that look inside the graphics library.
#pragma once

#include <cstdint>

#include "platform/Win32.h"

namespace Graph::detail {
win32::HWND Window();
win32::HDC BitmapDC();
win32::HDC WindowDC();
win32::DWORD ServerThreadId();
// The fields of the console key record the window makes of a key message.
struct KeyRecord {
  bool keyDown;
  std::uint16_t scanCode;
  std::uint32_t controlKeyState;
};
// Receives the key records the window makes, instead of the console input
// buffer; none: the records go to the console.
using KeyRecordSink = void (*)(const KeyRecord& record);
extern KeyRecordSink keyRecordSink;
// Called on the drawing thread inside every drawing, with the bitmap lock
// held and the drawing's pen and brush selected; none by default. Lets a
// test make a drawing fail half-way.
using DrawingHook = void (*)();
extern DrawingHook drawingHook;
}  // namespace Graph::detail
