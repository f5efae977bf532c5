// The exception library: sources of exceptions and explicit raises.
#include "runtime/EXCEPTIONS.h"

#include <algorithm>

#include "runtime/ModuleInit.h"
#include "runtime/Storage.h"

namespace EXCEPTIONS {
namespace {

bool initialised = false;
constexpr std::size_t kMessageSize = sizeof(K2C_ExceptionSource::message);

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
}

void AllocateSource(ExceptionSource& source) {
  void* record = nullptr;
  K2C_ALLOCATE(record, sizeof(K2C_ExceptionSource));
  if (record == nullptr) {
    static constexpr char kMessage[] = "Exception source is not allocated";
    RAISE(K2C_rtsSource, K2C_TRAP_NR_EXCEPTIONS, kMessage, sizeof kMessage);
  }
  source = static_cast<ExceptionSource>(record);
  source->number = 0;
  source->message[0] = '\0';
}

// A message that fills all 1024 characters is kept without a NUL.
void RAISE(ExceptionSource source, std::uint32_t number, const char* message,
           std::size_t capacity) {
  source->number = number;
  std::size_t limit = std::min(capacity, kMessageSize);
  std::size_t i = 0;
  while (i < limit && message[i] != '\0') {
    source->message[i] = message[i];
    ++i;
  }
  if (i < kMessageSize) source->message[i] = '\0';
  K2C_doRaise(source);
}

}  // namespace EXCEPTIONS
