// Runs a statement sequence under a handler frame and keeps what reached it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/krExceptions.h"

namespace channel_tests {

struct Raised {
  bool raised = false;
  std::uint32_t number = 0;
  std::string message;
};

template <class Body>
Raised CatchRaise(Body&& body) {
  Raised r;
  K2C_Protect(std::forward<Body>(body), [&](K2C_HandlerFrame& frame) {
    r.raised = true;
    r.number = frame.source->number;
    r.message.assign(frame.source->message, strnlen(frame.source->message, 1024));
  });
  return r;
}

// Channel records, identities and names live until the process ends; tests
// keep theirs reachable, so that the leak checker does not report them.
template <class T>
T Kept(T record) {
  static auto* kept = new std::vector<T>;  // outlives the static destructors
  kept->push_back(record);
  return record;
}

}  // namespace channel_tests
