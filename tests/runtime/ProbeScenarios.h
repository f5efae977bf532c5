// The names of rt_probe's scenarios that the tests' tables list, shared by
// both sides so that a name cannot be mistyped on one of them only.
#pragma once

namespace probe_scenario {

inline constexpr char kIndex[] = "index";
inline constexpr char kRange[] = "range";
inline constexpr char kOverflow[] = "overflow";
inline constexpr char kUnderflow[] = "underflow";
inline constexpr char kProduct[] = "product";
inline constexpr char kAssert[] = "assert";
inline constexpr char kTrap15[] = "trap15";
inline constexpr char kTrap4000000000[] = "trap4000000000";
inline constexpr char kXRemoveEmpty[] = "xremove-empty";
inline constexpr char kSourceExhausted[] = "source-exhausted";
inline constexpr char kSplitExhausted[] = "split-exhausted";
inline constexpr char kHistoryIndex[] = "history-index";
inline constexpr char kHistoryNil[] = "history-nil";
inline constexpr char kLoop[] = "loop";
inline constexpr char kBusy[] = "busy";
inline constexpr char kSpin[] = "spin";
inline constexpr char kLoopInFrame[] = "loop-in-frame";
inline constexpr char kBusyInFrame[] = "busy-in-frame";
inline constexpr char kSpinInFrame[] = "spin-in-frame";
inline constexpr char kKeyWait[] = "key-wait";
inline constexpr char kSlowExit[] = "slow-exit";
inline constexpr char kEndWhenTold[] = "end-when-told";

}  // namespace probe_scenario
