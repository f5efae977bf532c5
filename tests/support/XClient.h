// The test's own connection to an X server: it finds windows by name, reads
// what a window shows, and moves the pointer, presses the left button and
// types keys through the XTEST extension, as a user would.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace testing_support {

class XClient {
 public:
  // Connects to `display` (":17"); an empty name means $DISPLAY. Check
  // ok() before use.
  explicit XClient(const std::string& display = "");
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool ok() const { return display_ != nullptr; }
  // Whether the server has the XTEST extension that the input calls use.
  bool hasXTest() const;

  // Every window whose name is exactly `name`, parents before their
  // children, in stacking order from the bottom.
  std::vector<unsigned long> WindowsNamed(const std::string& name) const;
  // What the window shows, in its own visual (a window whose visual is not
  // the root's reads right too); empty when it is gone, unmapped or not a
  // 24- or 32-bit window of
  // masked colour (TrueColor or DirectColor).
  Image Read(unsigned long window) const;

  // Moves the pointer to the screen position, then presses the button.
  void press(int x, int y);
  void release();
  // Moves the pointer to the screen position, the button as it is.
  void move(int x, int y);
  // Gives `window` the keyboard focus and types the key of `keysym`.
  void typeKey(unsigned long window, unsigned long keysym);

 private:
  void* display_;  // the Xlib connection, kept out of the tests' headers
};

}  // namespace testing_support
