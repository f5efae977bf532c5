// The clients' side of the channel layer: the invalid channel and the four
// stream operations, each a call of the channel's procedure field.
#pragma once

#include <cstdint>

#include "channels/IOConsts.h"
#include "channels/IOLink.h"

namespace IOChan {

using ChanId = IOLink::ChanId;

// Every read, write, look or skip on it raises notAvailable.
ChanId InvalidChan();

void Look(ChanId cid, char& ch, IOConsts::ReadResult& result);
void Skip(ChanId cid);
void TextRead(ChanId cid, void* to, std::uint32_t maxChars, std::uint32_t& charsRead);
void TextWrite(ChanId cid, const void* from, std::uint32_t charsToWrite);

void BEGIN();

}  // namespace IOChan
