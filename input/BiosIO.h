// The keyboard status: whether a key is waiting, and the status variables
// of the keyboard BIOS interface.
#pragma once

#include <cstdint>

namespace BiosIO {

extern char LastChar;          // 0xFF
extern std::uint8_t LastScan;  // 0
extern bool EnhancedBIOS;      // TRUE

// TRUE while at least one key is queued; takes nothing out of the queue.
bool KeyPressed();

void BEGIN();

}  // namespace BiosIO
