#include <unistd.h>

#include <string>

#include "platform/user/User.h"

namespace win32 {

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  std::string line = caption != nullptr ? caption : "Error";
  line += ": ";
  line += text != nullptr ? text : "";
  line += '\n';
  // A message box is a last word: write it whole, ignoring failures.
  for (std::size_t done = 0; done < line.size();) {
    ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return IDOK;
}

}  // namespace win32
