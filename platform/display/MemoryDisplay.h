// The in-memory display: a virtual screen that windows show on, with the
// test controls declared in Display.h.
#pragma once

#include <memory>

#include "platform/display/Display.h"

namespace win32::detail {

std::unique_ptr<Display> MakeMemoryDisplay();

}  // namespace win32::detail
