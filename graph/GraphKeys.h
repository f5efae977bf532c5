// Key forwarding: the graphics window's key messages become console key
// records in the console input buffer, where the event queue reads them as
// keys typed on the console. Server thread only.
#pragma once

#include "platform/Win32.h"

namespace Graph::keys {

// A key message's lParam, pressed or released.
void Forward(bool keyDown, win32::LPARAM lParam);
// The window was activated or left: no modifier is held any more.
void ReleaseModifiers();

}  // namespace Graph::keys
