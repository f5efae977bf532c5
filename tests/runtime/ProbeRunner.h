// Runs the run-time's test program with a scenario.
#pragma once

#include <string>
#include <vector>

#include "tests/support/Subprocess.h"

namespace runtime_tests {

inline std::string ProbePath() {
  return testing_support::ExecutableDirectory() + "/rt_probe";
}

inline testing_support::RunResult RunProbe(const std::string& scenario,
                                           std::vector<std::string> extra = {}) {
  std::vector<std::string> args{scenario};
  args.insert(args.end(), extra.begin(), extra.end());
  return testing_support::RunProgram(ProbePath(), args);
}

inline std::string Report(const std::string& text) {
  return "#RTS: unhandled exception #" + text + "\r\n";
}

}  // namespace runtime_tests
