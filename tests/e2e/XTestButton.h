// The left mouse button through the XTEST extension on a connection of the
// test's own: a release reaches the X server within microseconds, well
// inside one 100 ms poll of the program, which a new xdotool process on a
// busy machine cannot promise.
#pragma once

#include <string>

namespace testing_support {

class XTestButton {
 public:
  explicit XTestButton(const std::string& display);
  ~XTestButton();
  XTestButton(const XTestButton&) = delete;
  XTestButton& operator=(const XTestButton&) = delete;

  bool ok() const { return display_ != nullptr; }
  // Moves the pointer to the screen position, then presses the button.
  void press(int x, int y);
  void release();
  // Moves the pointer to the screen position, the button as it is.
  void move(int x, int y);

 private:
  void* display_;  // the Xlib connection, kept out of the tests' headers
};

}  // namespace testing_support
