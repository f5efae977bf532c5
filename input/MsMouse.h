// The mouse: which buttons are down and where the pointer is. Before the
// graphics window opens the state follows the console's mouse records (in
// character cells); from then on the window's mouse messages (in client
// pixels).
#pragma once

#include <cstdint>

namespace MsMouse {

struct MsData {
  bool left_pressed;
  bool middle_pressed;
  bool right_pressed;
  std::uint32_t actions;  // left as the caller set it
  std::int32_t row;
  std::int32_t col;
};

// Does nothing: the module's body sets everything up.
void InitMouse();
// Copies the state; takes no lock, so a copy made while the state changes may
// mix the old and the new position.
void GetStatus(MsData& d);

void BEGIN();

}  // namespace MsMouse
