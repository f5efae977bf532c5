// The once-only rule of module bodies: every body starts with
//
//   void BEGIN() {
//     if (!K2C_EnterBody(initialised)) return;
//     Import1::BEGIN(); Import2::BEGIN();   // in import order
//     ...own statements...
//   }
//
// The flag is set before the imports run, so mutual imports end.
#pragma once

inline bool K2C_EnterBody(bool& initialised) {
  if (initialised) return false;
  initialised = true;
  return true;
}
