// Text reading and writing on channels: in this system only its body runs.
#pragma once

namespace TextIO {
void BEGIN();
}  // namespace TextIO
