#include "channels/kDevData.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "channels/IOChan.h"
#include "channels/IOConsts.h"
#include "platform/kernel/Files.h"
#include "runtime/kosFileIO.h"
#include "runtime/kosFmtIO.h"
#include "platform/kernel/Errors.h"
#include "runtime/ModuleInit.h"
#include "runtime/Storage.h"
#include "runtime/TERMINATION.h"
#include "runtime/krExceptions.h"
#include "runtime/krnHold.h"

namespace kDevData {
namespace {

using ChanConsts::ChanFlags;
using IOLink::DeviceTablePtr;

constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t CR = 0x0D;

bool initialised = false;
IOLink::DeviceId devDataId = nullptr;
DevData devDataRing = nullptr;  // the first record opened; null while empty

// ---- Pushback ------------------------------------------------------------

void push(DevData d, std::uint8_t byte) {
  // At most two bytes are ever pending (a look's character stored as CR LF,
  // or the CR look-ahead); a full store keeps its oldest bytes.
  if (d->pushCount < pushbackSize) d->pushback[d->pushCount++] = byte;
}

// Delivers pushed-back bytes, most recently pushed first.
std::uint32_t popPushback(DevData d, std::uint8_t* to, std::uint32_t count) {
  std::uint32_t n = 0;
  while (n < count && d->pushCount > 0) to[n++] = d->pushback[--d->pushCount];
  return n;
}

// ---- Line-end collapsing ---------------------------------------------------

struct Collapsed {
  std::uint32_t kept;   // bytes stored at the front
  std::uint32_t pairs;  // CR LF pairs turned into LF
};

// Drops every CR that is immediately followed by LF in bytes[from, end).
Collapsed collapseLineEnds(std::uint8_t* bytes, std::uint32_t from, std::uint32_t end) {
  Collapsed c{from, 0};
  for (std::uint32_t i = from; i < end; ++i) {
    if (bytes[i] == CR && i + 1 < end && bytes[i + 1] == LF) {
      ++c.pairs;
      continue;
    }
    bytes[c.kept++] = bytes[i];
  }
  return c;
}

// ---- Buffer helpers --------------------------------------------------------

// New data in the buffer: a failure to write it has not been reported yet.
void markDirty(DevData d) {
  d->state = (d->state | stateDirty) & ~stateFailureRaised;
  d->bufLen = std::max(d->bufLen, d->bufPos);
}

// A disk file's buffer goes back to filePos when it is written out. A
// standard stream is written where its handle stands (see FlushBuffer), so
// it needs no position and no extra system call per line.
bool tracksPosition(DevData d) {
  return (d->state & (stateDisk | stateStdStream)) == stateDisk;
}

std::uint32_t tellIfTracked(DevData d) {
  return tracksPosition(d) ? K2C_fTell(d->file, d->filePos) : 0;
}

// Removes the first `n` buffered bytes after they reached the file, so a
// flush that failed half-way is not written twice when tried again.
void dropWritten(DevData d, std::uint32_t n) {
  if (n < d->bufLen) std::memmove(d->buffer, d->buffer + n, d->bufLen - n);
  d->bufLen -= n;
  d->bufPos -= std::min(d->bufPos, n);
  std::uint64_t pos = (std::uint64_t{d->filePos.high} << 32 | d->filePos.low) + n;
  d->filePos = {static_cast<std::uint32_t>(pos >> 32), static_cast<std::uint32_t>(pos)};
}

// ---- Text output staging -----------------------------------------------------

// The 256-byte area in which a text write turns LF into CR LF; full pieces go
// to lowWrite. consumed() counts the source characters whose bytes the device
// took, so a piece taken only in part (without an error code) shows up as a
// short write instead of vanishing.
class LineEndStage {
 public:
  explicit LineEndStage(DevData d) : d_(d) {}

  // nextSource: the source index that follows once this byte is handed on.
  bool put(std::uint8_t byte, std::uint32_t nextSource) {
    bytes_[used_++] = byte;
    return used_ < bufferSize || handOn(nextSource);
  }

  // Stages source[begin, end), which holds no line end.
  bool putRun(const std::uint8_t* source, std::uint32_t begin, std::uint32_t end) {
    while (begin < end) {
      std::uint32_t n = std::min(end - begin, bufferSize - used_);
      std::memcpy(bytes_ + used_, source + begin, n);
      used_ += n;
      begin += n;
      if (used_ == bufferSize && !handOn(begin)) return false;
    }
    return true;
  }

  bool handOn(std::uint32_t nextSource) {
    if (used_ > 0) {
      std::uint32_t done = 0;
      error_ = d_->lowWrite(d_, bytes_, used_, done);
      if (error_ != 0 || done != used_) return false;
      used_ = 0;
    }
    consumed_ = nextSource;
    return true;
  }

  std::uint32_t consumed() const { return consumed_; }
  std::uint32_t error() const { return error_; }

 private:
  DevData d_;
  std::uint8_t bytes_[bufferSize];
  std::uint32_t used_ = 0;
  std::uint32_t consumed_ = 0;
  std::uint32_t error_ = 0;
};

// ---- Error texts -------------------------------------------------------------

// The code as 8 upper-case hexadecimal digits and "H".
struct ErrorText {
  char text[10];
};
ErrorText ErrorCodeText(std::uint32_t code) {
  ErrorText e{};
  std::uint32_t pos = 0;
  K2C_HexToStr(e.text, pos, code);
  e.text[pos++] = 'H';
  e.text[pos] = '\0';
  return e;
}

[[noreturn]] void raiseDeviceError(DeviceTablePtr t, IOLink::DevExceptionRange x,
                                   std::uint32_t code) {
  t->errorNumber = static_cast<std::int32_t>(code);
  ErrorText e = ErrorCodeText(code);
  IOLink::RAISEdevException(t->channel, t->deviceId, x, e.text, sizeof e.text);
}

// ---- Channel procedures -------------------------------------------------------
// Each read, write and flush runs inside the exit shield (runtime/krnHold.h): its entry is
// a safe point, and an exit that runs without the main thread leaves alone
// the record the main thread is updating.

DevData devData(DeviceTablePtr t) {
  return static_cast<DevData>(t->deviceData);
}

[[noreturn]] void raiseWriteFailure(DeviceTablePtr t, std::uint32_t code) {
  devData(t)->state |= stateFailureRaised;
  HardError(t, code);
}

void chanLook(DeviceTablePtr t, char& ch, IOConsts::ReadResult& result) {
  K2C_ExitShield shield(t->deviceData);
  DevData d = devData(t);
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  if (d->modeRead(d, &byte, 1, got) != 0 || got == 0) {
    result = IOConsts::endOfInput;
  } else {
    result = byte == LF ? IOConsts::endOfLine : IOConsts::allRight;
    ch = static_cast<char>(byte);
    d->modeUnread(d, byte);
  }
  t->result = result;
}

void chanSkip(DeviceTablePtr t) {
  K2C_ExitShield shield(t->deviceData);
  DevData d = devData(t);
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  if (std::uint32_t err = d->modeRead(d, &byte, 1, got); err != 0) HardError(t, err);
  if (got == 0) IOLink::RAISEdevException(t->channel, t->deviceId, IOLink::skipAtEnd, "");
  t->result = IOConsts::allRight;
}

void chanSkipLook(DeviceTablePtr t, char& ch, IOConsts::ReadResult& result) {
  chanSkip(t);
  chanLook(t, ch, result);
}

// Reads up to the maximum, stopping before a line end, which stays in the
// stream for a following look or skip.
void chanTextRead(DeviceTablePtr t, void* to, std::uint32_t maxChars, std::uint32_t& charsRead) {
  K2C_ExitShield shield(t->deviceData);
  DevData d = devData(t);
  auto* dest = static_cast<std::uint8_t*>(to);
  charsRead = 0;
  IOConsts::ReadResult result = IOConsts::allRight;
  while (charsRead < maxChars) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (std::uint32_t err = d->modeRead(d, &byte, 1, got); err != 0) HardError(t, err);
    if (got == 0) {
      if (charsRead == 0) result = IOConsts::endOfInput;
      break;
    }
    if (byte == LF) {
      d->modeUnread(d, byte);
      if (charsRead == 0) result = IOConsts::endOfLine;
      break;
    }
    dest[charsRead++] = byte;
  }
  t->result = result;
}

void chanRawRead(DeviceTablePtr t, void* to, std::uint32_t maxChars, std::uint32_t& charsRead) {
  K2C_ExitShield shield(t->deviceData);
  charsRead = 0;
  if (maxChars == 0) return;
  DevData d = devData(t);
  if (std::uint32_t err = d->modeRead(d, to, maxChars, charsRead); err != 0) HardError(t, err);
  t->result = charsRead != 0 ? IOConsts::allRight : IOConsts::endOfInput;
}

// Text and raw writes; a short write without an error code raises with 0.
void chanWrite(DeviceTablePtr t, const void* from, std::uint32_t count) {
  K2C_ExitShield shield(t->deviceData, K2C_Update::write);
  DevData d = devData(t);
  std::uint32_t written = 0;
  std::uint32_t err = d->modeWrite(d, from, count, written);
  if (err != 0 || written != count) raiseWriteFailure(t, err);
}

void chanWriteLine(DeviceTablePtr t) {
  static constexpr std::uint8_t lineEnd = LF;
  chanWrite(t, &lineEnd, 1);
}

void chanGetName(DeviceTablePtr t, char* name, std::uint32_t capacity) {
  DevData d = devData(t);
  if (capacity == 0) return;
  if (d->name == nullptr) {
    name[0] = '\0';
    return;
  }
  // The stored name always ends with its NUL; a full destination gets none.
  std::size_t n = std::min<std::size_t>(std::strlen(d->name) + 1, capacity);
  std::memcpy(name, d->name, n);
}

void chanFlush(DeviceTablePtr t) {
  K2C_ExitShield shield(t->deviceData, K2C_Update::write);
  DevData d = devData(t);
  std::uint32_t err = d->bufFlush(d);
  d->pushCount = 0;
  if (err == 0 && (d->flags & ChanConsts::writeFlag) != 0) err = K2C_fFlush(d->file);
  if (err != 0) raiseWriteFailure(t, err);
}

// ---- Open -------------------------------------------------------------------

std::uint32_t adjustedMode(std::uint32_t mode, std::uint32_t fileKind) {
  if (fileKind != K2C_FILE_DISK) return mode <= standardStream ? unbuffered : mode;
  return mode == 0 ? bufferedFile : mode;
}

void chooseProcedures(DevData d, std::uint32_t mode) {
  const bool buffered = d->buffer != nullptr;
  d->lowRead = buffered && mode == bufferedFile ? BufferedRead : DirectRead;
  d->lowWrite = buffered ? BufferedWrite : DirectWrite;
  d->bufFlush = buffered ? FlushBuffer : DropPushback;
  const bool text = (d->flags & ChanConsts::textFlag) != 0;
  d->modeRead = text ? TextModeRead : RawModeRead;
  d->modeWrite = text ? TextModeWrite : RawModeWrite;
  d->modeUnread = text ? TextModeUnread : RawModeUnread;
}

void installChannelProcedures(DeviceTablePtr t, ChanFlags flags) {
  const bool text = (flags & ChanConsts::textFlag) != 0;
  const bool raw = (flags & ChanConsts::rawFlag) != 0;
  if ((flags & ChanConsts::writeFlag) != 0) {
    if (raw) t->rawWrite = chanWrite;
    if (text) {
      t->textWrite = chanWrite;
      t->lineWrite = chanWriteLine;
    }
  }
  if ((flags & ChanConsts::readFlag) != 0) {
    if (raw) t->rawRead = chanRawRead;
    if (text) {
      t->look = chanLook;
      t->skip = chanSkip;
      t->skipLook = chanSkipLook;
      t->textRead = chanTextRead;
    }
  }
  t->getName = chanGetName;
  t->flush = chanFlush;
}

void insertIntoRing(DevData d) {
  if (devDataRing == nullptr) {
    d->next = d->prev = d;
    devDataRing = d;
    return;
  }
  d->next = devDataRing;
  d->prev = devDataRing->prev;
  devDataRing->prev->next = d;
  devDataRing->prev = d;
}

// ---- Program end ----------------------------------------------------------------

// A failure found at the end is reported where it is found, as an unhandled
// exception would be, but without ending the exit: the older finalisers
// still run, and the exit code becomes 9 unless a halt chose another.
void reportEndFailure(DevData d, std::uint32_t code) {
  if (d->table == nullptr) return;
  K2C_Protect([&] { raiseWriteFailure(d->table, code); },
              [](K2C_HandlerFrame& frame) { K2C_ReportDuringExit(frame.source); });
}

// The end's flush goes once over the records, from the channel finaliser
// (FlushAll) on the exit's thread or, when the exit did not end in time,
// from the limiter's finisher (FlushAfterLimit) while the exit's thread may
// still be inside FlushAll. Each record is written by one of them only:
// FlushAll names the record it is at and then looks whether the finisher
// took over; the finisher says it took over and then looks which record
// FlushAll is at. Both sequentially consistent, so at least one of them
// sees the other's word, and neither writes a record the other does.
std::atomic<DevData> endFlushAt{nullptr};
std::atomic<bool> endFlushTakenOver{false};

bool writable(DevData d) {
  return (d->flags & ChanConsts::writeFlag) != 0;
}

// Whether the main thread was stopped in the middle of the record's output:
// a write of its own, or any update of a buffered record (a read of a
// standard stream writes its buffer out first).
bool cutByTheExit(DevData d) {
  return writable(d) && (K2C_InChannelWrite(d) || (d->buffer != nullptr && K2C_InChannelUpdate(d)));
}

// "#RTS: output to standard output not written in full"; a file by its name.
void reportCut(DevData d) {
  const bool named = d->name != nullptr && d->name[0] != '\0';
  const bool toError = d->file == win32::GetStdHandle(win32::STD_ERROR_HANDLE);
  char line[300];
  const int length = std::snprintf(line, sizeof line, "#RTS: output to %s%s%s not written in full",
                                   named ? "\"" : "",
                                   named     ? d->name
                                   : toError ? "standard error"
                                             : "standard output",
                                   named ? "\"" : "");
  K2C_StdOut(line, static_cast<std::uint32_t>(std::min<int>(length, sizeof line - 1)));
  K2C_StdOutN();
}

// Writes out every buffer, each record tried even when another fails. A
// failure is reported unless it was raised on its channel already with
// nothing buffered since, so pending output never vanishes unreported; so
// is a record whose output the main thread was writing when the exit ran
// on without it, and the exit ends as failed.
void flushAtEnd(DevData d) {
  if (cutByTheExit(d)) {
    reportCut(d);
    K2C_FailExit();
    return;
  }
  if (d->buffer == nullptr || K2C_InChannelUpdate(d)) return;
  std::uint32_t err = d->bufFlush(d);
  d->pushCount = 0;
  if (err != 0 && (d->state & stateFailureRaised) == 0) reportEndFailure(d, err);
}

// Visits the open records in the order they were opened while `visit`
// answers true.
template <class Visit>
void forEachRecord(Visit visit) {
  if (devDataRing == nullptr) return;
  DevData d = devDataRing;
  do {
    if (!visit(d)) return;
    d = d->next;
  } while (d != devDataRing);
}

void FlushAll() {
  forEachRecord([](DevData d) {
    endFlushAt.store(d);
    if (endFlushTakenOver.load()) return false;
    flushAtEnd(d);
    endFlushAt.store(nullptr);
    return true;
  });
}

// On the finisher's thread, which ends the process right after: a failure
// is a line of its own, never raised.
void FlushAfterLimit() {
  endFlushTakenOver.store(true);
  const DevData busy = endFlushAt.load();
  forEachRecord([busy](DevData d) {
    if (d == busy || cutByTheExit(d)) {
      if (writable(d)) reportCut(d);
    } else if (d->buffer != nullptr && !K2C_InChannelUpdate(d)) {
      if (d->bufFlush(d) != 0) reportCut(d);
    }
    return true;
  });
}

}  // namespace

// ---- Mode procedures ------------------------------------------------------------

void RawModeUnread(DevData d, std::uint8_t byte) {
  push(d, byte);
}

void TextModeUnread(DevData d, std::uint8_t byte) {
  // LF goes back as CR LF, which the next text read turns into LF again.
  if (byte == LF) {
    push(d, LF);
    push(d, CR);
  } else {
    push(d, byte);
  }
}

std::uint32_t RawModeWrite(DevData d, const void* from, std::uint32_t count,
                           std::uint32_t& written) {
  d->pushCount = 0;
  return d->lowWrite(d, from, count, written);
}

std::uint32_t RawModeRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  if ((d->state & stateStdStream) != 0) {
    if (std::uint32_t err = d->bufFlush(d); err != 0) return err;
  }
  auto* dest = static_cast<std::uint8_t*>(to);
  read = popPushback(d, dest, count);
  if (read == count) return 0;
  std::uint32_t got = 0;
  std::uint32_t err = d->lowRead(d, dest + read, count - read, got);
  read += got;
  return err;
}

namespace {

// Copies the text putting a CR before every LF; answers the end of the copy.
std::uint8_t* convertLineEnds(const std::uint8_t* src, std::uint32_t count, std::uint8_t* to,
                              bool& sawLineEnd) {
  const std::uint8_t* const end = src + count;
  while (src < end) {
    const auto* lf = static_cast<const std::uint8_t*>(std::memchr(src, LF, end - src));
    const std::uint8_t* const runEnd = lf == nullptr ? end : lf;
    if (runEnd != src) {
      std::memcpy(to, src, runEnd - src);
      to += runEnd - src;
    }
    if (lf == nullptr) break;
    *to++ = CR;
    *to++ = LF;
    sawLineEnd = true;
    src = lf + 1;
  }
  return to;
}

// A text that fills at most one staging area once converted (every line of
// output is one): converted in one pass and handed to lowWrite once. When
// lowWrite would only copy it into the record's buffer, which has room for
// it, it is converted there instead: the bytes and the buffer's state are
// those the hand-off would leave, with one copy fewer.
std::uint32_t writeShortText(DevData d, const std::uint8_t* src, std::uint32_t count,
                             std::uint32_t& written, bool& sawLineEnd) {
  written = 0;
  if (count == 0) return 0;
  if (d->lowWrite == BufferedWrite && 2 * count <= bufferSize - d->bufPos) {
    std::uint8_t* const start = d->buffer + d->bufPos;
    d->bufPos += static_cast<std::uint32_t>(convertLineEnds(src, count, start, sawLineEnd) - start);
    markDirty(d);
    written = count;
    return 0;
  }
  std::uint8_t stage[bufferSize];
  const auto n = static_cast<std::uint32_t>(convertLineEnds(src, count, stage, sawLineEnd) - stage);
  std::uint32_t done = 0;
  const std::uint32_t err = d->lowWrite(d, stage, n, done);
  if (err == 0 && done == n) written = count;
  return err;
}

// Longer texts run through the staging area, handed on whenever it is full.
std::uint32_t writeLongText(DevData d, const std::uint8_t* src, std::uint32_t count,
                            std::uint32_t& written, bool& sawLineEnd) {
  LineEndStage stage(d);
  bool ok = true;
  std::uint32_t i = 0;
  while (ok && i < count) {
    const void* found = std::memchr(src + i, LF, count - i);
    const std::uint32_t lineEnd =
        found == nullptr
            ? count
            : static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(found) - src);
    ok = stage.putRun(src, i, lineEnd);
    if (ok && lineEnd < count) {
      sawLineEnd = true;
      ok = stage.put(CR, lineEnd) && stage.put(LF, lineEnd + 1);
    }
    i = lineEnd + 1;
  }
  ok = ok && stage.handOn(count);
  written = stage.consumed();
  return ok ? 0 : stage.error();
}

}  // namespace

std::uint32_t TextModeWrite(DevData d, const void* from, std::uint32_t count,
                            std::uint32_t& written) {
  d->pushCount = 0;
  const auto* src = static_cast<const std::uint8_t*>(from);
  bool sawLineEnd = false;
  const std::uint32_t err = count <= bufferSize / 2
                                ? writeShortText(d, src, count, written, sawLineEnd)
                                : writeLongText(d, src, count, written, sawLineEnd);
  if (err != 0 || written != count) return err;  // a short write without a code returns 0
  if (sawLineEnd && (d->state & stateStdStream) != 0) return d->bufFlush(d);
  return 0;
}

std::uint32_t TextModeRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  if ((d->state & stateStdStream) != 0) {
    if (std::uint32_t err = d->bufFlush(d); err != 0) return err;
  }
  auto* dest = static_cast<std::uint8_t*>(to);
  std::uint32_t stored = popPushback(d, dest, count);
  bool filled = true;
  std::uint32_t err = 0;
  if (stored < count) {
    std::uint32_t got = 0;
    err = d->lowRead(d, dest + stored, count - stored, got);
    filled = got == count - stored;
    stored += got;
  }
  Collapsed c = collapseLineEnds(dest, 0, stored);
  read = c.kept;
  if (err != 0) return err;
  // Each collapsed pair left a gap; fill it from the device. A CR left last
  // is scanned again, so a pair split between two reads collapses too.
  while (c.pairs > 0 && filled) {
    std::uint32_t got = 0;
    err = d->lowRead(d, dest + c.kept, c.pairs, got);
    filled = got == c.pairs;
    std::uint32_t from = c.kept > 0 && dest[c.kept - 1] == CR ? c.kept - 1 : c.kept;
    c = collapseLineEnds(dest, from, c.kept + got);
    read = c.kept;
    if (err != 0) return err;
  }
  // A CR at the end may be the first half of a pair: look at the next byte.
  // This is done after a short read too (a pipe delivering CR and LF in two
  // pieces), so the pair still becomes one LF.
  if (read > 0 && dest[read - 1] == CR) {
    std::uint8_t next = 0;
    std::uint32_t got = popPushback(d, &next, 1);
    if (got == 0) err = d->lowRead(d, &next, 1, got);
    if (err != 0) return err;
    if (got == 1 && next == LF) {
      dest[read - 1] = LF;
    } else if (got == 1) {
      RawModeUnread(d, next);
    }
  }
  return 0;
}

// ---- Device-level procedures ------------------------------------------------

// A pipe whose writers are gone answers a read with ERROR_BROKEN_PIPE: for a
// channel that is the end of its input (standard input from a pipe that
// ended), not a device error.
std::uint32_t DirectRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  const std::uint32_t err = K2C_fRead(d->file, to, count, read);
  return err == win32::ERROR_BROKEN_PIPE ? 0 : err;
}

std::uint32_t DirectWrite(DevData d, const void* from, std::uint32_t count,
                          std::uint32_t& written) {
  written = 0;
  return K2C_fWrite(d->file, from, count, written);
}

std::uint32_t DropPushback(DevData d) {
  d->pushCount = 0;
  return 0;
}

std::uint32_t FlushBuffer(DevData d) {
  if ((d->state & stateDirty) != 0) {
    // A standard stream is written where the handle stands: its buffer never
    // holds read-ahead, and another handle on the same file (standard error
    // redirected with standard output) may have written since; going back to
    // filePos would overwrite that output.
    if (tracksPosition(d)) {
      if (std::uint32_t err = K2C_fSeek(d->file, d->filePos, 0); err != 0) return err;
    }
    while (d->bufLen > 0) {
      std::uint32_t written = 0;
      std::uint32_t err = K2C_fWrite(d->file, d->buffer, d->bufLen, written);
      dropWritten(d, std::min(written, d->bufLen));
      if (err != 0) return err;
      if (written == 0) return win32::ERROR_WRITE_FAULT;
    }
    if (std::uint32_t err = tellIfTracked(d); err != 0) return err;
    d->state &= ~stateDirty;
  }
  d->bufLen = 0;
  d->bufPos = 0;
  return 0;
}

std::uint32_t BufferedWrite(DevData d, const void* from, std::uint32_t count,
                            std::uint32_t& written) {
  written = count;
  if (count == 0) return 0;
  const auto* src = static_cast<const std::uint8_t*>(from);
  std::uint32_t left = count;
  if (d->bufPos < bufferSize) {
    std::uint32_t n = std::min(bufferSize - d->bufPos, left);
    std::memcpy(d->buffer + d->bufPos, src, n);
    d->bufPos += n;
    markDirty(d);
    src += n;
    left -= n;
    if (left == 0) return 0;
  }
  if (std::uint32_t err = d->bufFlush(d); err != 0) {
    written = 0;
    return err;
  }
  while (left > bufferSize) {
    std::uint32_t done = 0;
    std::uint32_t err = K2C_fWrite(d->file, src, bufferSize, done);
    src += done;
    left -= done;
    if (err != 0 || done == 0) {
      written = count - left;
      return err;
    }
  }
  if (std::uint32_t err = tellIfTracked(d); err != 0) return err;
  std::memcpy(d->buffer, src, left);
  d->bufPos = d->bufLen = left;
  markDirty(d);
  return 0;
}

std::uint32_t BufferedRead(DevData d, void* to, std::uint32_t count, std::uint32_t& read) {
  read = count;
  if (count == 0) return 0;
  auto* dest = static_cast<std::uint8_t*>(to);
  std::uint32_t left = count;
  std::uint32_t n = std::min(d->bufLen - d->bufPos, left);
  std::memcpy(dest, d->buffer + d->bufPos, n);
  d->bufPos += n;
  dest += n;
  left -= n;
  if (left == 0) return 0;
  if (std::uint32_t err = d->bufFlush(d); err != 0) {
    read = count - left;
    return err;
  }
  if (left > bufferSize) {
    std::uint32_t want = left / bufferSize * bufferSize;
    std::uint32_t got = 0;
    std::uint32_t err = K2C_fRead(d->file, dest, want, got);
    dest += got;
    left -= got;
    if (err != 0 || got < want) {
      read = count - left;
      return err;
    }
  }
  if (std::uint32_t err = tellIfTracked(d); err != 0) {
    read = count - left;
    return err;
  }
  std::uint32_t got = 0;
  std::uint32_t err = K2C_fRead(d->file, d->buffer, bufferSize, got);
  d->bufLen = got;
  if (err == 0) {
    d->bufPos = std::min(got, left);
    std::memcpy(dest, d->buffer, d->bufPos);
    left -= d->bufPos;
  }
  read = count - left;
  return err;
}

// ---- Public procedures ----------------------------------------------------------

IOLink::DeviceId GetDID() {
  return devDataId;
}

DevData GetDevData(DeviceTablePtr table) {
  return static_cast<DevData>(table->deviceData);
}

void MakeName(char*& name, const char* text, std::size_t length, ChanConsts::OpenResult& result) {
  std::size_t n = text == nullptr ? 0 : strnlen(text, length);
  void* block = nullptr;
  K2C_ALLOCATE(block, static_cast<std::uint32_t>(n + 1));
  name = static_cast<char*>(block);
  if (name == nullptr) {
    result = ChanConsts::outOfChans;
    return;
  }
  std::memcpy(name, text == nullptr ? "" : text, n);
  name[n] = '\0';
  result = ChanConsts::opened;
}

void MakeName(char*& name, std::string_view text, ChanConsts::OpenResult& result) {
  MakeName(name, text.data(), text.size(), result);
}

void Open(DeviceTablePtr t, win32::HANDLE file, char* name, ChanFlags flags,
          std::uint32_t bufferingMode, ChanConsts::OpenResult& result) {
  const bool mixed = (flags & ChanConsts::textFlag) != 0 && (flags & ChanConsts::rawFlag) != 0;
  if (mixed && !K2C_IsMixAllowed()) {
    result = ChanConsts::noMixedOperations;
    return;
  }
  void* block = nullptr;
  if (name != nullptr) Storage::ALLOCATE(block, sizeof(DevDataRec));
  if (block == nullptr) {
    result = ChanConsts::outOfChans;
    return;
  }
  DevData d = new (block) DevDataRec{};
  d->name = name;
  d->table = t;
  const std::uint32_t kind = K2C_fGetFileType(file);
  const std::uint32_t mode = adjustedMode(bufferingMode, kind);
  if (mode != unbuffered) {
    void* buffer = nullptr;
    Storage::ALLOCATE(buffer, bufferSize);
    d->buffer = static_cast<std::uint8_t*>(buffer);
  }
  d->file = file;
  d->flags = flags;
  chooseProcedures(d, mode);
  if (kind == K2C_FILE_DISK) {
    d->state |= stateDisk;
    if (d->buffer != nullptr) {
      if (std::uint32_t err = K2C_fTell(file, d->filePos); err != 0) SoftError(t, err);
    }
  }
  if (mode == standardStream) d->state |= stateStdStream;
  t->flags = flags;
  t->deviceData = d;
  installChannelProcedures(t, flags);
  insertIntoRing(d);
  result = ChanConsts::opened;
}

void HardError(DeviceTablePtr t, std::uint32_t code) {
  raiseDeviceError(t, IOLink::hardDeviceError, code);
}

void SoftError(DeviceTablePtr t, std::uint32_t code) {
  raiseDeviceError(t, IOLink::softDeviceError, code);
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  IOChan::BEGIN();
  IOConsts::BEGIN();
  ChanConsts::BEGIN();
  IOLink::BEGIN();
  K2C_FINALLY(FlushAll);
  K2C_SetExitLimitFlush(FlushAfterLimit);
  devDataId = IOLink::AllocateDeviceId();
}

}  // namespace kDevData
