// Message boxes: a dialog where the display can show one, and always a line
// on standard error (a headless run keeps the message in its log).
#include <unistd.h>

#include <string>

#include "platform/display/Display.h"
#include "platform/user/User.h"

namespace win32 {

namespace {

void WriteToStandardError(const std::string& line) {
  // A message box is a last word: write it whole, ignoring failures.
  for (std::size_t done = 0; done < line.size();) {
    ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  const std::string title = caption != nullptr ? caption : "Error";
  const std::string body = text != nullptr ? text : "";
  WriteToStandardError(title + ": " + body + "\n");
  // A window that could not be shown is reported by the message that
  // follows: the display's reason goes under it, for whoever reads the log.
  if (detail::Display* display = detail::DisplayInUse()) {
    const std::string reason = display->takeFailure();
    if (!reason.empty()) WriteToStandardError("Display: " + reason + "\n");
  }
  const bool error = (type & 0xF0) == MB_ICONERROR;
  detail::CurrentDisplay().showMessage(title, body, error);
  return IDOK;
}

}  // namespace win32
