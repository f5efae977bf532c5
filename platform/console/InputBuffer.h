// The console input buffer: the process's one queue of INPUT_RECORDs. The
// terminal reader and WriteConsoleInputA append to it; ReadConsoleInputA,
// PeekConsoleInputA and waits on the console input handle look at it.
#pragma once

#include <cstddef>
#include <deque>

#include "platform/console/Console.h"

namespace win32::detail {

class InputBuffer {
 public:
  // Records beyond this many are refused: a reader that never reads must not
  // make the process grow without end.
  static constexpr std::size_t kCapacity = 16384;

  // Appends as many records as fit, oldest first; returns how many did.
  std::size_t append(const INPUT_RECORD* records, std::size_t count);
  // Appends one record; a mouse move then replaces a mouse move that is the
  // last record queued, so a long drag that nobody reads keeps one record.
  std::size_t appendMergingMove(const INPUT_RECORD& record);
  // Copies up to `length` records from the front; `remove` takes them out.
  // With `block`, waits until at least one record is there.
  std::size_t take(INPUT_RECORD* out, std::size_t length, bool remove, bool block);
  std::size_t size() const;
  void clear();

  // For the wait on the console input handle; the wait lock is held.
  bool signalledLocked() const;

 private:
  // Guarded by the process-wide wait lock (Sync.h), so that a wait on the
  // console input handle sees "a record is there" change atomically with
  // every append and take.
  std::deque<INPUT_RECORD> records_;
};

// The process's one buffer (never destroyed: the reader thread may still
// append while the process exits).
InputBuffer& ProcessInputBuffer();

}  // namespace win32::detail
