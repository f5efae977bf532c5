// The SDL display: real windows on the X server named by $DISPLAY.
#pragma once

#include <memory>

#include "platform/display/Display.h"

namespace win32::detail {

std::unique_ptr<Display> MakeSdlDisplay();

}  // namespace win32::detail
