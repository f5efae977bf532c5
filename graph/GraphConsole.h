// Console discovery: the window of the console the program runs in, found
// by a marker title the console shows for a moment.
#pragma once

#include "platform/Win32.h"

namespace Graph::console {

// Looks for the console window once (caller's thread, before the graphics
// window is made); the console title is put back afterwards. The window
// found is kept for the process; nothing in the library reads it yet.
void Discover();

}  // namespace Graph::console
