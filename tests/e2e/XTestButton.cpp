#include "tests/e2e/XTestButton.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace testing_support {
namespace {

Display* connection(void* display) {
  return static_cast<Display*>(display);
}

}  // namespace

XTestButton::XTestButton(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}

XTestButton::~XTestButton() {
  if (display_ != nullptr) XCloseDisplay(connection(display_));
}

void XTestButton::press(int x, int y) {
  XTestFakeMotionEvent(connection(display_), -1, x, y, CurrentTime);
  XTestFakeButtonEvent(connection(display_), 1, True, CurrentTime);
  XSync(connection(display_), False);
}

void XTestButton::release() {
  XTestFakeButtonEvent(connection(display_), 1, False, CurrentTime);
  XSync(connection(display_), False);
}

void XTestButton::move(int x, int y) {
  XTestFakeMotionEvent(connection(display_), -1, x, y, CurrentTime);
  XSync(connection(display_), False);
}

}  // namespace testing_support
