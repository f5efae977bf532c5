// Message boxes on the real API, with the Linux build's fallback for a box
// that cannot appear (no display): its line goes to standard error.
#include <string>

#include "platform/Win32.h"

namespace win32 {

namespace {

// A box that was shown answers the button that closed it (IDOK and up);
// Windows answers 0 for one that could not be, Wine -1.
bool Shown(int answer) {
  return answer > 0;
}

// The last word of a program that may be ending: written whole where it
// can be, failures ignored.
void WriteToStandardError(const std::string& line) {
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  for (std::size_t done = 0; done < line.size();) {
    DWORD written = 0;
    const auto rest = static_cast<DWORD>(line.size() - done);
    if (!::WriteFile(error, line.data() + done, rest, &written, nullptr) || written == 0) break;
    done += written;
  }
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const int answer = ::MessageBoxA(owner, text, caption, type);
  if (!Shown(answer)) {
    const std::string title = caption != nullptr ? caption : "Error";
    WriteToStandardError(title + ": " + (text != nullptr ? text : "") + "\r\n");
  }
  return answer;
}

}  // namespace win32
