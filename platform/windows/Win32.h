// The Win32 subset that the system calls, in namespace win32, on Windows:
// the real functions and types, the macros the modules use as constants of
// the namespace (Win32Names.h, generated from those uses), and the few
// things the system needs beyond the API.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/windows/Win32Names.h"

#undef IMAGE_FIRST_SECTION

namespace win32 {

// The section table follows the optional header, whatever its size.
inline IMAGE_SECTION_HEADER* IMAGE_FIRST_SECTION(IMAGE_NT_HEADERS* headers) {
  return reinterpret_cast<IMAGE_SECTION_HEADER*>(reinterpret_cast<BYTE*>(&headers->OptionalHeader) +
                                                 headers->FileHeader.SizeOfOptionalHeader);
}

// The NT headers of a loaded module, read from its image in memory as
// dbghelp's ImageNtHeader reads them; null for anything but a module's base.
IMAGE_NT_HEADERS* ImageNtHeader(LPVOID base);

// Walks the calling thread's stack outwards from the caller of WalkStack,
// one frame at a time as RtlVirtualUnwind steps it: the visitor gets each
// frame's Rip and Rsp. The walk ends where the unwind data ends or when the
// visitor answers FALSE.
using PSTACK_FRAME_VISITOR = BOOL (*)(DWORD64 rip, DWORD64 rsp, LPVOID context);
void WalkStack(PSTACK_FRAME_VISITOR visitor, LPVOID context);

// The filter also sees the hardware faults first, before any frame's
// handler: C++ frames have handlers of their own here, which would take a
// fault for a foreign exception. A fault the filter resumes (it answers
// EXCEPTION_CONTINUE_EXECUTION) goes no further.
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// A box that cannot appear (no display) is not lost: "caption: text" and
// CR LF go to standard error, as the Linux build writes every box there.
// The answer is the real one.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

}  // namespace win32

namespace win32::detail {
// The x87 error offset: in 64-bit mode the save area's ErrorOffset,
// ErrorSelector and Reserved1 together hold the instruction's address.
inline DWORD64 FpuErrorOffset(const CONTEXT& context) {
  return DWORD64{context.FltSave.ErrorOffset} | DWORD64{context.FltSave.ErrorSelector} << 32 |
         DWORD64{context.FltSave.Reserved1} << 48;
}

// Where the main thread may be asked to stop, and what a lost display does:
// the real API's waits have no hook and its windows no lost display, so both
// are kept and never called.
using SafePointHook = void (*)(bool entering);
void SetSafePointHook(SafePointHook hook);
void SetDisplayLostHandler(void (*handler)());

// The real API's console devices and standard handles are the console's
// already: there is nothing to connect.
inline void ConnectConsoleHost() {}

// Brings what the calling thread has drawn into a window's DC to the screen:
// under Wine a window's surface reaches the X server only when a thread of
// the process next looks at its messages, so this looks (and takes none).
inline void ShowDrawing() {
  MSG message;
  ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}
}  // namespace win32::detail
