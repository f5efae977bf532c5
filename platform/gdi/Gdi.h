// The graphics device interface subset (gdi32) and its software rasteriser.
#pragma once

#include "platform/kernel/WinTypes.h"
