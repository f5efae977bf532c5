// The run-time's hooks into the platform, kept and never called on the real
// API (see Win32.h).
#include "platform/Win32.h"

namespace win32::detail {
namespace {
SafePointHook safePointHook = nullptr;
void (*displayLostHandler)() = nullptr;
}  // namespace

void SetSafePointHook(SafePointHook hook) {
  safePointHook = hook;
}

void SetDisplayLostHandler(void (*handler)()) {
  displayLostHandler = handler;
}
}  // namespace win32::detail
