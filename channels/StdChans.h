// The standard channels: input, output and error on the process's standard
// handles, the null channel, and the current input, output and error channels.
#pragma once

#include "channels/IOChan.h"

namespace StdChans {

using ChanId = IOChan::ChanId;

// Each standard channel is the null channel when the process has no such
// handle, and the invalid channel when no channel could be made.
ChanId StdInChan();
ChanId StdOutChan();
ChanId StdErrChan();
// Absorbs output; reads give end of input. Never raises.
ChanId NullChan();

ChanId InChan();
ChanId OutChan();
ChanId ErrChan();

// Makes cid the current input channel; a standard channel also becomes the
// process's standard input handle.
void SetInChan(ChanId cid);

void BEGIN();

}  // namespace StdChans
