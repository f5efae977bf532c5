// Sequential files: in this system only its body runs, which takes the file
// device's identity.
#pragma once

namespace SeqFile {
void BEGIN();
}  // namespace SeqFile
