// The two history hooks as the trap and exception paths call them.
#pragma once

void K2C_scanStackHistory(const void* slot, const void* bottom, bool isTrap);
void K2C_show_history();
