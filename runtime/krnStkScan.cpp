#include "runtime/krnStkScan.h"

#include <unwind.h>

#include "runtime/krIsCall.h"
#include "runtime/krnShowHistory.h"

namespace {

K2C_History mainHistory{};

void record(K2C_History& history, std::uintptr_t address, std::uintptr_t start,
            std::uint32_t section, win32::HMODULE module) {
  if (history.count >= 0 && history.count < K2C_HISTORY_SIZE) {
    history.entries[history.count] = {static_cast<std::uint32_t>(address - start), section, module};
  }
  if (history.count < INT16_MAX) ++history.count;
}

// A frame's return address is stored 8 bytes below the frame address (CFA)
// of the frame it returns from, which the unwinder's context still holds when
// it hands over the frame.
struct Walk {
  std::uintptr_t location;  // the word at the first slot
  std::uintptr_t slot;      // frames whose return address lies above it count
  std::uintptr_t limit;     // the last slot that may hold a return address
  bool isTrap;
  bool locationIsFrame;  // some frame returns into the location
  bool started = false;
  K2C_History* history;
};

void recordReturnAddress(Walk& walk, std::uintptr_t address) {
  std::uintptr_t start = 0;
  std::uint32_t section = 0;
  win32::HMODULE module = nullptr;
  if (!K2C_IS_CODESEG(address, start, section, module)) return;
  const std::uintptr_t call = K2C_IS_CALL(address);
  if (call != 0) record(*walk.history, call, start, section, module);
}

void recordLocation(Walk& walk) {
  std::uintptr_t start = 0;
  std::uint32_t section = 0;
  win32::HMODULE module = nullptr;
  if (K2C_IS_CODESEG(walk.location, start, section, module)) {
    record(*walk.history, walk.location, start, section, module);
  }
}

_Unwind_Reason_Code findLocation(_Unwind_Context* context, void* data) {
  Walk& walk = *static_cast<Walk*>(data);
  const std::uintptr_t ip = _Unwind_GetIP(context);
  if (ip == 0) return _URC_END_OF_STACK;
  if (ip != walk.location) return _URC_NO_REASON;
  walk.locationIsFrame = true;
  return _URC_END_OF_STACK;
}

// The walk starts at the frame that the location returns into; when no frame
// does (the location of a hardware fault), at the first frame whose return
// address lies above the first slot.
_Unwind_Reason_Code visit(_Unwind_Context* context, void* data) {
  Walk& walk = *static_cast<Walk*>(data);
  const std::uintptr_t ip = _Unwind_GetIP(context);
  if (ip == 0) return _URC_END_OF_STACK;
  const std::uintptr_t returnSlot = _Unwind_GetCFA(context) - 8;
  if (!walk.started) {
    const bool atLocation = ip == walk.location;
    if (walk.locationIsFrame ? !atLocation : returnSlot <= walk.slot) return _URC_NO_REASON;
    walk.started = true;
    if (walk.isTrap) {
      recordLocation(walk);
      if (atLocation) return _URC_NO_REASON;
    }
  }
  if (walk.limit != 0 && returnSlot > walk.limit) return _URC_END_OF_STACK;
  recordReturnAddress(walk, ip);
  return _URC_NO_REASON;
}

}  // namespace

K2C_History& K2C_CurrentHistory() {
  return mainHistory;
}

// The bottom is the frame address of K2C_BEGIN: the return address above it
// leads into the main module, and so does that of every procedure the main
// module calls later; nothing above it is scanned.
void K2C_STACK_SCAN_PROC(const void* slot, const void* bottom, bool isTrap) {
  mainHistory.count = 0;
  Walk walk{};
  walk.location = *static_cast<const std::uintptr_t*>(slot);
  walk.slot = reinterpret_cast<std::uintptr_t>(slot);
  walk.limit = bottom != nullptr ? reinterpret_cast<std::uintptr_t>(bottom) + 8 : 0;
  walk.isTrap = isTrap;
  walk.history = &mainHistory;
  _Unwind_Backtrace(&findLocation, &walk);
  _Unwind_Backtrace(&visit, &walk);
}
