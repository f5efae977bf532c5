// A helper program's scenarios: a table of names and the functions that run
// them. Header only, so that helper programs use it without linking GoogleTest.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace testing_support {

// How a helper program ends when asked for a scenario it does not have: no
// scenario ends with it, so a test's mistyped name cannot pass for a result.
inline constexpr int kUnknownScenarioExit = 99;

template <typename Function>
struct Scenario {
  std::string_view name;
  Function* run;
};

// The scenario named `name`, or null.
template <typename Function, std::size_t N>
Function* FindScenario(const Scenario<Function> (&table)[N], std::string_view name) {
  for (const Scenario<Function>& scenario : table) {
    if (scenario.name == name) return scenario.run;
  }
  return nullptr;
}

// The scenario named `name`; an unknown name is written to standard error and
// ends the program at once with kUnknownScenarioExit, running no finaliser
// (the program has done nothing worth finishing).
template <typename Function, std::size_t N>
Function* ScenarioOrExit(const Scenario<Function> (&table)[N], std::string_view name) {
  if (Function* run = FindScenario(table, name)) return run;
  std::fprintf(stderr, "unknown scenario \"%.*s\"\n", static_cast<int>(name.size()), name.data());
  std::_Exit(kUnknownScenarioExit);
}

}  // namespace testing_support
