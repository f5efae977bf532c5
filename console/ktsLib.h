// Delays for the console libraries.
#pragma once

#include <cstdint>

namespace ktsLib {

void BEGIN();
// Suspends the calling thread; 0 gives up the rest of its time slice. The
// wait is alertable: APCs queued for the thread (the console break) run here.
void Delay(std::uint32_t milliseconds);

}  // namespace ktsLib
