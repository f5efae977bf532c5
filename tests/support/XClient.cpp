#include "tests/support/XClient.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstdint>
#include <memory>

namespace testing_support {
namespace {

Display* connection(void* display) {
  return static_cast<Display*>(display);
}

// A window may go between finding and reading it; the call then fails with
// an X error, which must not end the test. Errors of this connection are
// counted instead of reported.
int errorsSeen = 0;
int countError(Display*, XErrorEvent*) {
  ++errorsSeen;
  return 0;
}

std::uint32_t channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  while ((mask & 1) == 0) {
    mask >>= 1;
    pixel >>= 1;
  }
  return static_cast<std::uint32_t>(pixel & mask & 0xFF);
}

// XDestroyImage is a macro, so it cannot be the deleter itself.
struct ImageDeleter {
  void operator()(XImage* image) const { XDestroyImage(image); }
};

bool named(Display* display, Window window, const std::string& name) {
  XTextProperty property{};
  if (XGetWMName(display, window, &property) == 0 || property.value == nullptr) return false;
  const bool same =
      std::string(reinterpret_cast<const char*>(property.value), property.nitems) == name;
  XFree(property.value);
  return same;
}

void collectNamed(Display* display, Window parent, const std::string& name,
                  std::vector<unsigned long>& found) {
  Window root = 0, ignored = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, parent, &root, &ignored, &children, &count) == 0) return;
  for (unsigned i = 0; i < count; ++i) {
    if (named(display, children[i], name)) found.push_back(children[i]);
    collectNamed(display, children[i], name, found);
  }
  if (children != nullptr) XFree(children);
}

}  // namespace

XClient::XClient(const std::string& display)
    : display_(XOpenDisplay(display.empty() ? nullptr : display.c_str())) {
  if (display_ != nullptr) XSetErrorHandler(countError);
}

XClient::~XClient() {
  if (display_ != nullptr) XCloseDisplay(connection(display_));
}

bool XClient::hasXTest() const {
  int event = 0, error = 0, major = 0, minor = 0;
  return XTestQueryExtension(connection(display_), &event, &error, &major, &minor) != 0;
}

std::vector<unsigned long> XClient::WindowsNamed(const std::string& name) const {
  Display* display = connection(display_);
  std::vector<unsigned long> found;
  collectNamed(display, DefaultRootWindow(display), name, found);
  XSync(display, False);
  return found;
}

Image XClient::Read(unsigned long window) const {
  Display* display = connection(display_);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window, &attributes) == 0) return {};
  const Visual* visual = attributes.visual;
  // Xvfb gives SDL a DirectColor visual; its colour map is the identity, so
  // its pixels read as TrueColor's do.
  const bool maskedColour =
      visual != nullptr && (visual->c_class == TrueColor || visual->c_class == DirectColor);
  if (attributes.map_state != IsViewable || !maskedColour ||
      (attributes.depth != 24 && attributes.depth != 32)) {
    return {};
  }
  const int before = errorsSeen;
  std::unique_ptr<XImage, ImageDeleter> image(
      XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap));
  XSync(display, False);
  if (image == nullptr || errorsSeen != before) return {};
  Image picture{attributes.width, attributes.height, {}};
  picture.pixels.reserve(static_cast<std::size_t>(attributes.width) * attributes.height);
  for (int y = 0; y < attributes.height; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      const unsigned long raw = XGetPixel(image.get(), x, y);
      picture.pixels.push_back((channel(raw, visual->red_mask) << 16) |
                               (channel(raw, visual->green_mask) << 8) |
                               channel(raw, visual->blue_mask));
    }
  }
  return picture;
}

void XClient::press(int x, int y) {
  XTestFakeMotionEvent(connection(display_), -1, x, y, CurrentTime);
  XTestFakeButtonEvent(connection(display_), 1, True, CurrentTime);
  XSync(connection(display_), False);
}

void XClient::release() {
  XTestFakeButtonEvent(connection(display_), 1, False, CurrentTime);
  XSync(connection(display_), False);
}

void XClient::move(int x, int y) {
  XTestFakeMotionEvent(connection(display_), -1, x, y, CurrentTime);
  XSync(connection(display_), False);
}

void XClient::typeKey(unsigned long window, unsigned long keysym) {
  Display* display = connection(display_);
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  const KeyCode key = XKeysymToKeycode(display, keysym);
  XTestFakeKeyEvent(display, key, True, CurrentTime);
  XTestFakeKeyEvent(display, key, False, CurrentTime);
  XSync(display, False);
}

}  // namespace testing_support
