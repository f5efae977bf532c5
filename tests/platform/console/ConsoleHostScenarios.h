// The names of console_host_program's scenarios that the tests' tables list,
// shared by both sides so that a name cannot be mistyped on one of them only.
#pragma once

namespace console_host_scenario {

inline constexpr char kEnd[] = "end";
inline constexpr char kHalt[] = "halt";
inline constexpr char kTrap[] = "trap";
inline constexpr char kWait[] = "wait";

}  // namespace console_host_scenario
