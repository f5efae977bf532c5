// The Win32 subset that the system calls, in namespace win32.
#pragma once

#include "platform/kernel/WinTypes.h"
#include "platform/kernel/Errors.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Exceptions.h"
#include "platform/kernel/DebugHelp.h"
#include "platform/kernel/RuntimeHooks.h"
#include "platform/console/Console.h"
#include "platform/user/User.h"
#include "platform/gdi/Gdi.h"
