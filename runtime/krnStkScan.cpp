#include "runtime/krnStkScan.h"

#include "platform/kernel/DebugHelp.h"
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

// A frame's return address is stored 8 bytes below the stack pointer that
// the walk reports with it.
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

win32::BOOL findLocation(win32::DWORD64 rip, win32::DWORD64, win32::LPVOID data) {
  Walk& walk = *static_cast<Walk*>(data);
  if (rip != walk.location) return win32::TRUE;
  walk.locationIsFrame = true;
  return win32::FALSE;
}

// The walk starts at the frame that the location returns into; when no frame
// does (the location of a hardware fault), at the first frame whose return
// address lies above the first slot.
win32::BOOL visit(win32::DWORD64 rip, win32::DWORD64 rsp, win32::LPVOID data) {
  Walk& walk = *static_cast<Walk*>(data);
  const std::uintptr_t ip = rip;
  const std::uintptr_t returnSlot = rsp - 8;
  if (!walk.started) {
    const bool atLocation = ip == walk.location;
    if (walk.locationIsFrame ? !atLocation : returnSlot <= walk.slot) return win32::TRUE;
    walk.started = true;
    if (walk.isTrap) {
      recordLocation(walk);
      if (atLocation) return win32::TRUE;
    }
  }
  if (walk.limit != 0 && returnSlot > walk.limit) return win32::FALSE;
  recordReturnAddress(walk, ip);
  return win32::TRUE;
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
  win32::WalkStack(&findLocation, &walk);
  win32::WalkStack(&visit, &walk);
}
