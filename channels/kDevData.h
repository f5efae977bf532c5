// The file and console device: channels on operating-system handles, with
// line-end conversion on text channels (CR LF in the stream, LF in the
// program), a pushback store for look-ahead, a 256-byte buffer for disk files
// and the standard-stream mode that writes a redirected standard stream out
// line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "channels/ChanConsts.h"
#include "channels/IOLink.h"
#include "runtime/kosFiles.h"
#include "platform/kernel/WinTypes.h"

namespace kDevData {

struct DevDataRec;
using DevData = DevDataRec*;

// Device-level and mode procedures return the operating-system error code
// (0 = success) and hand back how many bytes were delivered or consumed.
using ReadProc = std::uint32_t (*)(DevData, void* to, std::uint32_t count, std::uint32_t& done);
using WriteProc = std::uint32_t (*)(DevData, const void* from, std::uint32_t count,
                                    std::uint32_t& done);
using UnreadProc = void (*)(DevData, std::uint8_t byte);
using BufFlushProc = std::uint32_t (*)(DevData);

inline constexpr std::uint32_t bufferSize = 256;
inline constexpr std::uint32_t pushbackSize = 8;

// Bits of DevDataRec::state.
inline constexpr std::uint32_t stateDirty = 1;      // the buffer holds unwritten data
inline constexpr std::uint32_t stateDisk = 2;       // a disk file: its position is tracked
inline constexpr std::uint32_t stateStdStream = 4;  // written out at line ends and before reads
// The last write failure was raised on the channel and nothing was buffered
// since: the end does not report it again.
inline constexpr std::uint32_t stateFailureRaised = 8;

// Buffering modes given to Open.
inline constexpr std::uint32_t bufferedFile = 1;  // 0 is taken as 1
inline constexpr std::uint32_t standardStream = 2;
inline constexpr std::uint32_t unbuffered = 3;

struct DevDataRec {
  win32::HANDLE file;
  DevData next;  // DevDataRing
  DevData prev;
  char* name;  // from MakeName
  ChanConsts::ChanFlags flags;
  std::uint32_t state;
  ReadProc lowRead;
  WriteProc lowWrite;
  ReadProc modeRead;
  WriteProc modeWrite;
  UnreadProc modeUnread;
  BufFlushProc bufFlush;
  std::uint8_t* buffer;  // bufferSize bytes, or null when unbuffered
  std::uint32_t bufPos;
  std::uint32_t bufLen;
  FilePos filePos;                      // of the buffer's first byte (disk files)
  std::uint8_t pushback[pushbackSize];  // a stack
  std::uint32_t pushCount;
  // The channel the record serves, so that a failure found at program end
  // can be raised on it.
  IOLink::DeviceTablePtr table;
};

IOLink::DeviceId GetDID();
// The channel's DevDataRec, or null; no check is made.
DevData GetDevData(IOLink::DeviceTablePtr table);

// A heap copy of the text (up to its first NUL or `length`); null name and
// outOfChans when the heap is exhausted.
void MakeName(char*& name, const char* text, std::size_t length, ChanConsts::OpenResult& result);
void MakeName(char*& name, std::string_view text, ChanConsts::OpenResult& result);

// Opens the device on a fresh channel record of the caller's device.
void Open(IOLink::DeviceTablePtr table, win32::HANDLE file, char* name, ChanConsts::ChanFlags flags,
          std::uint32_t bufferingMode, ChanConsts::OpenResult& result);

// Store the code in the record's errorNumber and raise hardDeviceError or
// softDeviceError with the code as text ("00000006H").
[[noreturn]] void HardError(IOLink::DeviceTablePtr table, std::uint32_t code);
[[noreturn]] void SoftError(IOLink::DeviceTablePtr table, std::uint32_t code);

// Mode procedures (text or raw flavour), stored in modeRead/modeWrite/modeUnread.
std::uint32_t TextModeRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read);
std::uint32_t RawModeRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read);
std::uint32_t TextModeWrite(DevData d, const void* from, std::uint32_t count,
                            std::uint32_t& written);
std::uint32_t RawModeWrite(DevData d, const void* from, std::uint32_t count,
                           std::uint32_t& written);
void TextModeUnread(DevData d, std::uint8_t byte);
void RawModeUnread(DevData d, std::uint8_t byte);

// Device-level procedures, stored in lowRead/lowWrite/bufFlush.
std::uint32_t DirectRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read);
std::uint32_t BufferedRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read);
std::uint32_t DirectWrite(DevData d, const void* from, std::uint32_t count, std::uint32_t& written);
std::uint32_t BufferedWrite(DevData d, const void* from, std::uint32_t count,
                            std::uint32_t& written);
std::uint32_t FlushBuffer(DevData d);
std::uint32_t DropPushback(DevData d);

void BEGIN();

}  // namespace kDevData
