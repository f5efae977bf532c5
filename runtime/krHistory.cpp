#include "runtime/krHistory.h"

#include "runtime/krnStart.h"

void K2C_scanStackHistory(const void* slot, const void* bottom, bool isTrap) {
  if (K2C_stkScan != nullptr) K2C_stkScan(slot, bottom, isTrap);
}

void K2C_show_history() {
  if (K2C_hisShow != nullptr) K2C_hisShow();
}
