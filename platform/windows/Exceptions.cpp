// The unhandled-exception filter on the real API, seeing hardware faults
// first through a vectored handler (see Win32.h).
#include <atomic>

#include "platform/Win32.h"

namespace win32 {
namespace {

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> currentFilter{nullptr};

bool isHardwareFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return false;
  }
}

// Only the executable's own code: the system's libraries take and handle
// faults of their own (probing memory, say) under their own handlers.
bool inExecutable(const void* address) {
  auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleA(nullptr));
  const IMAGE_NT_HEADERS* headers = ImageNtHeader(const_cast<BYTE*>(base));
  if (headers == nullptr) {
    return false;
  }
  auto* at = static_cast<const BYTE*>(address);
  return at >= base && at < base + headers->OptionalHeader.SizeOfImage;
}

LONG CALLBACK firstChance(EXCEPTION_POINTERS* pointers) {
  LPTOP_LEVEL_EXCEPTION_FILTER filter = currentFilter.load();
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (filter == nullptr || !isHardwareFault(record.ExceptionCode) ||
      !inExecutable(record.ExceptionAddress)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  return filter(pointers) == EXCEPTION_CONTINUE_EXECUTION ? EXCEPTION_CONTINUE_EXECUTION
                                                          : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  static const PVOID registered = ::AddVectoredExceptionHandler(1, &firstChance);
  (void)registered;
  currentFilter.store(filter);
  return ::SetUnhandledExceptionFilter(filter);
}

}  // namespace win32
