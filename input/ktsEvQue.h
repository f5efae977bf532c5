// The console input event queue: the one reader of the console input buffer.
// A thread of its own turns key records into (character, key code) pairs in
// the manner of a PC keyboard BIOS and queues them; mouse records go to a
// chain of mouse handlers. Its body also installs the console input channel
// (input/ConsoleChannel.h) as the standard input channel.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/Win32.h"

namespace ktsEvQue {

// One queued key press.
struct KeyEntry {
  char ch;                 // the key's character, 0 for a key without one
  std::uint8_t code;       // the key code, 0 when the key has a character of its own
  std::uint16_t scanCode;  // the virtual scan code of the record
};

// A console mouse record, handed to the handlers by reference.
struct MouseEvent {
  std::int32_t x;  // character cells
  std::int32_t y;
  std::uint8_t buttons;  // bit 0 left, bit 1 rightmost, bit 2 middle
};

// TRUE: the handler has dealt with the event and no older handler sees it.
using MouseHandler = bool (*)(MouseEvent& event);

// The new handler is asked first. Meant for module bodies, before mouse
// records are handed on in earnest.
void AddMouseHandler(MouseHandler handler);

// The oldest queued key, left in the queue: scan is its code, or the low
// byte of its scan code when it has no code. FALSE (ch and scan untouched)
// when no key is queued.
bool peekKey(char& ch, std::uint8_t& scan);
// As peekKey, but takes the key out of the queue; with wait TRUE it sleeps
// until a key arrives.
bool getKey(char& ch, std::uint8_t& scan, bool wait);

void BEGIN();

namespace detail {

struct KeyPair {
  char ch;
  std::uint8_t code;
  bool operator==(const KeyPair&) const = default;
};

// A key-down record's pair, or none for keys that give nothing (Shift alone,
// empty table cells).
std::optional<KeyPair> translateKey(const win32::KEY_EVENT_RECORD& key);

// What the reader thread does with one record it has read.
void handleRecord(const win32::INPUT_RECORD& record);

// The number of keys that were dropped because the queue was full.
std::uint32_t droppedKeys();

}  // namespace detail

}  // namespace ktsEvQue
