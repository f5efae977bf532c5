#include "graph/GraphKeys.h"

#include <cstdint>

#include "graph/GraphTesting.h"
#include "graph/ktsIGraph.h"

namespace Graph {

namespace detail {
KeyRecordSink keyRecordSink = nullptr;
}  // namespace detail

namespace keys {
namespace {

// Modifier keys held down in the window, as the console record's control-key
// flags; server thread only.
std::uint32_t keyState = 0;

std::uint32_t modifierFlag(std::uint32_t scanCode) {
  switch (scanCode) {
    case 0x2A:
    case 0x36:
      return win32::SHIFT_PRESSED;
    case 0x1D:
      return win32::LEFT_CTRL_PRESSED;
    case 0x38:
      return win32::LEFT_ALT_PRESSED;
    case 0x11D:
      return win32::RIGHT_CTRL_PRESSED;
    case 0x138:
      return win32::RIGHT_ALT_PRESSED;
    default:
      return 0;
  }
}

// Hands the record to the console input buffer, where the event queue reads
// it like a key typed on the console. It carries neither a character nor a
// virtual-key code: the queue translates it by scan code and state. What the
// write answers is not looked at: a key that cannot be queued is lost, as a
// key typed into a full console buffer is.
void writeKeyRecord(const detail::KeyRecord& record) {
  if (detail::keyRecordSink != nullptr) {
    detail::keyRecordSink(record);
    return;
  }
  win32::INPUT_RECORD input{};
  input.EventType = win32::KEY_EVENT;
  win32::KEY_EVENT_RECORD& key = input.Event.KeyEvent;
  key.bKeyDown = record.keyDown ? 1 : 0;
  key.wRepeatCount = 1;
  key.wVirtualKeyCode = 0;
  key.wVirtualScanCode = record.scanCode;
  key.uChar.UnicodeChar = 0;
  key.dwControlKeyState = record.controlKeyState;
  win32::DWORD written = 0;
  win32::WriteConsoleInputA(ktsIGraph::hConsoleInput, &input, 1, &written);
}

}  // namespace

void Forward(bool keyDown, win32::LPARAM lParam) {
  // Scan code in bits 16-23, extended-key flag in bit 24.
  const std::uint32_t scanCode = (static_cast<std::uint32_t>(lParam) >> 16) & 0x1FF;
  if (scanCode > 0xFF) {
    keyState |= win32::ENHANCED_KEY;
  } else {
    keyState &= ~win32::ENHANCED_KEY;
  }
  const detail::KeyRecord record{keyDown, static_cast<std::uint16_t>(scanCode & 0xFF), keyState};
  if (keyDown) {
    keyState |= modifierFlag(scanCode);
  } else {
    keyState &= ~modifierFlag(scanCode);
  }
  writeKeyRecord(record);
}

void ReleaseModifiers() {
  keyState = 0;
}

}  // namespace keys
}  // namespace Graph
