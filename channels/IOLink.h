// The device modules' side of the channel layer: device identities, channel
// records made from the default template, and the channel exceptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "channels/ChanConsts.h"
#include "channels/IOConsts.h"

namespace IOLink {

// The identity of a device module: a 4-byte heap block of its own, compared
// by identity only.
using DeviceId = std::uint32_t*;

struct DeviceTable;
using DeviceTablePtr = DeviceTable*;
// A channel is the address of its record, so operations reach the device
// procedures with one indirection. Never null: the invalid channel stands in.
using ChanId = DeviceTablePtr;

using LookProc = void (*)(DeviceTablePtr, char& ch, IOConsts::ReadResult& result);
using SkipProc = void (*)(DeviceTablePtr);
using TextReadProc = void (*)(DeviceTablePtr, void* to, std::uint32_t maxChars,
                              std::uint32_t& charsRead);
using TextWriteProc = void (*)(DeviceTablePtr, const void* from, std::uint32_t charsToWrite);
using RawReadProc = TextReadProc;
using RawWriteProc = TextWriteProc;
using GetNameProc = void (*)(DeviceTablePtr, char* name, std::uint32_t capacity);
using ResetProc = void (*)(DeviceTablePtr);
using FlushProc = void (*)(DeviceTablePtr);
using FreeProc = void (*)(DeviceTablePtr);

struct DeviceTable {
  void* deviceData;  // the owning device's private data
  DeviceId deviceId;
  ChanId channel;  // this record
  IOConsts::ReadResult result;
  std::int32_t errorNumber;  // operating-system code of the last device error
  ChanConsts::ChanFlags flags;
  LookProc look;
  SkipProc skip;
  LookProc skipLook;
  SkipProc lineWrite;
  TextReadProc textRead;
  TextWriteProc textWrite;
  RawReadProc rawRead;
  RawWriteProc rawWrite;
  GetNameProc getName;
  ResetProc reset;
  FlushProc flush;
  FreeProc free;
};

// Channel exception numbers.
using DevExceptionRange = std::uint32_t;
inline constexpr DevExceptionRange wrongDevice = 0;
inline constexpr DevExceptionRange notAvailable = 1;
inline constexpr DevExceptionRange skipAtEnd = 2;
inline constexpr DevExceptionRange softDeviceError = 3;
inline constexpr DevExceptionRange hardDeviceError = 4;
inline constexpr DevExceptionRange textParseError = 5;
inline constexpr DevExceptionRange notAChannel = 6;

// The exception messages are cut to this buffer (NUL included when it fits).
inline constexpr std::size_t messageCapacity = 129;

// Null when the heap is exhausted.
DeviceId AllocateDeviceId();
// A new channel of the device, a copy of the template; the invalid channel
// when no record can be allocated.
ChanId MakeChan(DeviceId did);
bool IsDevice(ChanId cid, DeviceId did);

// Texts end at their first NUL or after `length` characters.
// The channel's record; raises wrongDevice when the channel is not the
// device's. The exception number and text are not used.
DeviceTablePtr DeviceTablePtrValue(ChanId cid, DeviceId did, DevExceptionRange x, const char* text,
                                   std::size_t length);
DeviceTablePtr DeviceTablePtrValue(ChanId cid, DeviceId did, DevExceptionRange x = notAvailable,
                                   std::string_view text = {});
// Raises x with the text on the device's channel; wrongDevice otherwise.
[[noreturn]] void RAISEdevException(ChanId cid, DeviceId did, DevExceptionRange x, const char* text,
                                    std::size_t length);
[[noreturn]] void RAISEdevException(ChanId cid, DeviceId did, DevExceptionRange x,
                                    std::string_view text);

void BEGIN();

}  // namespace IOLink
