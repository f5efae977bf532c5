// The exception library: sources of exceptions and explicit raises.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/krExceptions.h"

namespace EXCEPTIONS {

using ExceptionSource = K2C_ExceptionSource*;

void BEGIN();
// A new source (number 0, empty message); exception 14 "Exception source is
// not allocated" when the heap is exhausted.
void AllocateSource(ExceptionSource& source);
// Copies the message (up to its capacity, its NUL, or 1024 characters) into
// the source and raises it. Does not return.
[[noreturn]] void RAISE(ExceptionSource source, std::uint32_t number, const char* message,
                        std::size_t capacity);

}  // namespace EXCEPTIONS
