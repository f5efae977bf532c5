// The window manager subset (user32).
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_ICONERROR = 0x00000010;
inline constexpr UINT MB_SYSTEMMODAL = 0x00001000;
inline constexpr UINT MB_TASKMODAL = 0x00002000;
inline constexpr UINT MB_SETFOREGROUND = 0x00010000;
inline constexpr int IDOK = 1;

// Shows the text as a dialog where a display is open, else writes
// "caption: text" on standard error. A null caption reads "Error".
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

}  // namespace win32
