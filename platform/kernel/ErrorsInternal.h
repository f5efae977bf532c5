// The platform's own side of the error codes: errno to Windows codes.
#pragma once

#include "platform/kernel/Errors.h"

namespace win32::detail {
// The Windows error code for a Linux errno value (ERROR_INVALID_FUNCTION for
// values without a counterpart).
DWORD ErrorFromErrno(int err);
// SetLastError(ErrorFromErrno(err)); convenient in failure paths.
void SetLastErrorFromErrno(int err);
}  // namespace win32::detail
