// Waiting in tests for what another thread or process does: a condition
// looked at again and again until it holds or a deadline passes. A busy
// machine only makes the wait longer, never the test wrong.
#pragma once

#include <chrono>
#include <functional>

namespace testing_support {

// Polls until the condition holds or the time is up; answers the condition.
// `step` is the pause between looks (longer for conditions that start a
// process).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(30),
               std::chrono::milliseconds step = std::chrono::milliseconds(2));

}  // namespace testing_support
