#include "platform/display/SdlDisplay.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/keys/KeyCodes.h"
#include "platform/kernel/ProcessInternal.h"
#include "platform/kernel/Rects.h"
#include "platform/kernel/ThreadsInternal.h"

namespace win32::detail {

namespace {

// Codes of the one user event type the display registers.
enum UserEventCode : Sint32 {
  kWake = 1,     // a message was posted to the video thread
  kPresent = 2,  // data1: window id whose surface changed
  kTitle = 3,    // data1: window id whose title was set by another thread
};

constexpr SIZE kScreenBeforeStart{1024, 768};

// Set once the X server's connection is gone: nothing touches X after that.
std::atomic<bool> displayGone{false};

// libX11 would call exit() when this returns; the program's own orderly exit
// runs here instead, on the thread that met the loss (the video thread), and
// never comes back into X.
int connectionLost(::Display*) {
  displayGone.store(true);
  DisplayLost();
}

bool HasXDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && display[0] != '\0';
}

// The session bus a desktop session provides: named in the environment, or
// the socket in the user's runtime folder that libdbus looks for itself.
bool HasSessionBus() {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] == '\0') return false;
  struct stat bus {};
  return ::stat((std::string(runtime) + "/bus").c_str(), &bus) == 0 && S_ISSOCK(bus.st_mode);
}

// What SDL's start-up would do for nothing, left out through the only
// switches SDL and its libraries offer: their environment variables, set
// before SDL_Init (the threads that read the environment read it at their
// start, before any window; nothing here starts other programs that would
// inherit them).
void LeaveOutNeedlessStartUpWork() {
  // Without a session bus, libdbus (which SDL opens at SDL_Init, for the
  // screen saver and input methods) would launch one: a dbus-launch and a
  // bus daemon that outlive the program, 20 ms and more before the window.
  // "disabled:" is the usual name for "no session bus"; libdbus refuses it
  // at once, and SDL goes on without a bus as it would without a daemon.
  if (!HasSessionBus()) ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  // SDL opens the X input method at SDL_Init, and libX11's local method
  // then reads the locale's whole Compose file, a character at a time
  // (thousands of lines for UTF-8 locales). The window's keys are keys:
  // they carry scan codes, never composed characters, so an empty table
  // loses nothing, and SDL still reports every key, dead keys too.
  ::setenv("XCOMPOSEFILE", "/dev/null", 1);
}

class SdlDisplay;

// A window's client surface. Drawing threads report changes here; the video
// thread shows them, woken by one coalesced event per burst of drawing.
class SdlSurface : public Surface {
 public:
  SdlSurface(SdlDisplay& display, Uint32 windowId, std::int32_t width, std::int32_t height)
      : Surface(width, height), display_(display), windowId_(windowId) {}

  void changed(const RECT& area) override;

  // The area to show, cleared; the next change asks for a new present.
  RECT takeDirty() {
    presentPending_ = false;
    std::lock_guard guard(dirtyLock_);
    RECT dirty = dirty_;
    dirty_ = {0, 0, 0, 0};
    return dirty;
  }
  void detach() { attached_ = false; }

 private:
  SdlDisplay& display_;
  const Uint32 windowId_;
  std::atomic<bool> attached_{true};
  std::atomic<bool> presentPending_{false};
  std::mutex dirtyLock_;
  RECT dirty_{0, 0, 0, 0};
};

struct NativeWindow {
  HWND handle = nullptr;
  SDL_Window* window = nullptr;
  std::shared_ptr<SdlSurface> surface;
  std::string pendingTitle;
};

class SdlDisplay : public Display {
 public:
  std::shared_ptr<Surface> openWindow(HWND handle, const WindowPlacement& placement) override {
    if (!startVideo()) return nullptr;
    if (GetCurrentThreadId() != videoThread_) {
      std::lock_guard guard(lock_);
      failure_ = "windows belong to the thread that opened the first one";
      return nullptr;
    }
    const RECT& outer = placement.outer;
    const RECT& client = placement.client;
    const int width = std::max<int>(client.right - client.left, 1);
    const int height = std::max<int>(client.bottom - client.top, 1);
    SDL_Window* window = SDL_CreateWindow(placement.title.c_str(), outer.left, outer.top, width,
                                          height, SDL_WINDOW_SHOWN);
    if (window == nullptr) return fail("SDL_CreateWindow");
    // SDL's copy of the client area, shared with the X server, is made now
    // and its pages made present in one call, rather than a fault at a
    // time while the first picture is copied into it.
    if (SDL_Surface* shown = SDL_GetWindowSurface(window)) {
      MakePresent(shown->pixels, static_cast<std::size_t>(shown->pitch) * shown->h);
    }
    const Uint32 id = SDL_GetWindowID(window);
    auto surface = std::make_shared<SdlSurface>(*this, id, width, height);
    std::lock_guard guard(lock_);
    windows_[id] = NativeWindow{handle, window, surface, {}};
    ids_[handle] = id;
    return surface;
  }

  void closeWindow(HWND handle) override {
    SDL_Window* window = nullptr;
    {
      std::lock_guard guard(lock_);
      auto found = ids_.find(handle);
      if (found == ids_.end()) return;
      auto& native = windows_.at(found->second);
      native.surface->detach();
      window = native.window;
      windows_.erase(found->second);
      ids_.erase(found);
    }
    SDL_DestroyWindow(window);
  }

  void setTitle(HWND handle, const std::string& title) override {
    Uint32 id = 0;
    {
      std::lock_guard guard(lock_);
      auto found = ids_.find(handle);
      if (found == ids_.end()) return;
      id = found->second;
      if (GetCurrentThreadId() != videoThread_) windows_.at(id).pendingTitle = title;
    }
    if (GetCurrentThreadId() == videoThread_) {
      SDL_SetWindowTitle(windowOf(id), title.c_str());
    } else {
      push(kTitle, id);
    }
  }

  std::shared_ptr<Surface> screen() override {
    std::lock_guard guard(lock_);
    if (!screen_) screen_ = std::make_shared<Surface>(screenSize_.cx, screenSize_.cy);
    return screen_;
  }

  SIZE screenSize() override {
    std::lock_guard guard(lock_);
    return screenSize_;
  }

  bool waitsForThread() override {
    if (!running_.load(std::memory_order_acquire) || GetCurrentThreadId() != videoThread_) {
      return false;
    }
    std::lock_guard guard(lock_);
    // SDL waits without polling only while a window exists to be woken
    // through; without one the thread waits on its queue instead.
    return !windows_.empty();
  }

  void pumpEvents() override {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) handle(event);
  }

  void waitEvents() override {
    SDL_Event event;
    if (SDL_WaitEvent(&event) != 0) handle(event);
  }

  void wakeThread(DWORD threadId) override {
    if (!running_.load(std::memory_order_acquire) || threadId != videoThread_) return;
    if (!wakePending_.exchange(true)) push(kWake, 0);
  }

  bool showMessage(const std::string& caption, const std::string& text, bool error) override {
    if (!HasXDisplay() || displayGone.load()) return false;
    // SDL's dialog resets the keyboard, cursor and mouse capture of the video
    // it runs: only the video thread may show one while video runs.
    if (running_.load(std::memory_order_acquire) && GetCurrentThreadId() != videoThread_) {
      return false;
    }
    const Uint32 flags = error ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
    return SDL_ShowSimpleMessageBox(flags, caption.c_str(), text.c_str(), nullptr) == 0;
  }

  std::string takeFailure() override {
    std::lock_guard guard(lock_);
    return std::exchange(failure_, std::string());
  }

  void requestPresent(Uint32 windowId) { push(kPresent, windowId); }

 private:
  // SDL video starts once, on the first thread that opens a window; that
  // thread stays the only one that touches SDL video.
  bool startVideo() {
    std::lock_guard guard(lock_);
    if (running_.load()) return true;
    if (failed_) {
      failure_ = startFailure_;
      return false;
    }
    failed_ = true;
    if (!HasXDisplay()) return failStart("no X display ($DISPLAY is unset or empty)");
    LeaveOutNeedlessStartUpWork();
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // SDL's capture while a button is held stays on: without it SDL clamps
    // the pointer into the window and reports a release outside at the
    // edge. With it the reports are the raw positions, and the window
    // manager decides where mouse input goes (SetCapture).
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return failStart(std::string("SDL_Init: ") + SDL_GetError());
    // SDL has loaded libX11 (the one this program links): its handler for a
    // lost connection is the program's from now on.
    XSetIOErrorHandler(&connectionLost);
    userEvent_ = SDL_RegisterEvents(1);
    if (userEvent_ == static_cast<Uint32>(-1)) {
      const std::string reason = std::string("SDL_RegisterEvents: ") + SDL_GetError();
      SDL_Quit();
      return failStart(reason);
    }
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) screenSize_ = {mode.w, mode.h};
    videoThread_ = GetCurrentThreadId();
    failed_ = false;
    running_.store(true, std::memory_order_release);
    return true;
  }

  // Under lock_. Video does not start again: the reason stays for every
  // window asked for later.
  bool failStart(const std::string& reason) {
    startFailure_ = reason;
    failure_ = reason;
    return false;
  }

  std::nullptr_t fail(const char* step) {
    std::lock_guard guard(lock_);
    failure_ = std::string(step) + ": " + SDL_GetError();
    return nullptr;
  }

  void push(Sint32 code, Uint32 windowId) {
    SDL_Event event{};
    event.type = userEvent_;
    event.user.code = code;
    event.user.data1 = reinterpret_cast<void*>(static_cast<std::uintptr_t>(windowId));
    SDL_PushEvent(&event);
  }

  SDL_Window* windowOf(Uint32 id) {
    std::lock_guard guard(lock_);
    auto found = windows_.find(id);
    return found == windows_.end() ? nullptr : found->second.window;
  }

  HWND handleOf(Uint32 id) {
    std::lock_guard guard(lock_);
    auto found = windows_.find(id);
    return found == windows_.end() ? nullptr : found->second.handle;
  }

  void handle(const SDL_Event& event) {
    if (event.type == userEvent_) {
      handleUserEvent(event.user);
      return;
    }
    switch (event.type) {
      case SDL_WINDOWEVENT:
        handleWindowEvent(event.window);
        break;
      case SDL_MOUSEMOTION:
        handleMouseMotion(event.motion);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        handleMouseButton(event.button);
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        handleKey(event.key);
        break;
      default:
        break;
    }
  }

  // The whole client area: the window's surface has its size.
  RECT clientAreaOf(Uint32 id) {
    std::lock_guard guard(lock_);
    auto found = windows_.find(id);
    if (found == windows_.end()) return {0, 0, 0, 0};
    const Surface& surface = *found->second.surface;
    return {0, 0, surface.width(), surface.height()};
  }

  void handleUserEvent(const SDL_UserEvent& user) {
    const auto id = static_cast<Uint32>(reinterpret_cast<std::uintptr_t>(user.data1));
    switch (user.code) {
      case kWake:
        wakePending_ = false;
        break;
      case kPresent:
        present(id);
        break;
      case kTitle:
        applyPendingTitle(id);
        break;
      default:
        break;
    }
  }

  void handleWindowEvent(const SDL_WindowEvent& event) {
    HWND handle = handleOf(event.windowID);
    if (handle == nullptr) return;
    switch (event.event) {
      case SDL_WINDOWEVENT_CLOSE:
        ReportClose(handle);
        break;
      case SDL_WINDOWEVENT_EXPOSED:
        ReportExposure(handle, clientAreaOf(event.windowID));
        break;
      case SDL_WINDOWEVENT_FOCUS_GAINED:
        ReportFocus(handle, true);
        break;
      case SDL_WINDOWEVENT_FOCUS_LOST:
        ReportFocus(handle, false);
        break;
      default:
        break;
    }
  }

  void handleMouseMotion(const SDL_MouseMotionEvent& motion) {
    HWND handle = handleOf(motion.windowID);
    if (handle != nullptr) ReportMouseMove(handle, motion.x, motion.y);
  }

  void handleMouseButton(const SDL_MouseButtonEvent& event) {
    HWND handle = handleOf(event.windowID);
    if (handle == nullptr) return;
    MouseButton button = MouseButton::Left;
    switch (event.button) {
      case SDL_BUTTON_LEFT:
        button = MouseButton::Left;
        break;
      case SDL_BUTTON_RIGHT:
        button = MouseButton::Right;
        break;
      case SDL_BUTTON_MIDDLE:
        button = MouseButton::Middle;
        break;
      default:
        return;
    }
    ReportMouseButton(handle, button, event.state == SDL_PRESSED, event.x, event.y);
  }

  void handleKey(const SDL_KeyboardEvent& event) {
    HWND handle = handleOf(event.windowID);
    const KeyCode code = KeyFromSdlScancode(event.keysym.scancode);
    if (handle == nullptr || code.scan == 0) return;
    KeyFact key;
    key.scan = code.scan;
    key.extended = code.extended;
    key.down = event.type == SDL_KEYDOWN;
    key.repeat = event.repeat != 0;
    key.numLock = (event.keysym.mod & KMOD_NUM) != 0;
    ReportKey(handle, key);
  }

  void present(Uint32 id) {
    std::shared_ptr<SdlSurface> surface;
    SDL_Window* window = nullptr;
    {
      std::lock_guard guard(lock_);
      auto found = windows_.find(id);
      if (found == windows_.end()) return;
      surface = found->second.surface;
      window = found->second.window;
    }
    RECT dirty = surface->takeDirty();
    SDL_Surface* target = SDL_GetWindowSurface(window);
    if (target == nullptr) return;
    dirty = {std::max<LONG>(dirty.left, 0), std::max<LONG>(dirty.top, 0),
             std::min<LONG>(dirty.right, std::min(target->w, surface->width())),
             std::min<LONG>(dirty.bottom, std::min(target->h, surface->height()))};
    if (dirty.right <= dirty.left || dirty.bottom <= dirty.top) return;
    copyToWindow(*surface, *target, dirty);
    const SDL_Rect rect{dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top};
    SDL_UpdateWindowSurfaceRects(window, &rect, 1);
  }

  static void copyToWindow(Surface& surface, SDL_Surface& target, const RECT& area) {
    if (SDL_MUSTLOCK(&target) && SDL_LockSurface(&target) != 0) return;
    {
      std::lock_guard guard(surface.lock());
      const std::uint32_t* from = surface.row(area.top) + area.left;
      auto* to = static_cast<std::uint8_t*>(target.pixels) +
                 static_cast<std::size_t>(area.top) * target.pitch +
                 static_cast<std::size_t>(area.left) * target.format->BytesPerPixel;
      SDL_ConvertPixels(area.right - area.left, area.bottom - area.top, SDL_PIXELFORMAT_RGB888,
                        from, surface.width() * 4, target.format->format, to, target.pitch);
    }
    if (SDL_MUSTLOCK(&target)) SDL_UnlockSurface(&target);
  }

  void applyPendingTitle(Uint32 id) {
    std::string title;
    SDL_Window* window = nullptr;
    {
      std::lock_guard guard(lock_);
      auto found = windows_.find(id);
      if (found == windows_.end()) return;
      title = found->second.pendingTitle;
      window = found->second.window;
    }
    SDL_SetWindowTitle(window, title.c_str());
  }

  // Start-up: startVideo writes videoThread_ and userEvent_ under lock_ on
  // the first thread that opens a window, then publishes them with running_
  // (release). Other threads read them only after seeing running_ (acquire)
  // or under lock_, and they never change again; before that no thread id
  // equals videoThread_'s 0.
  //
  // Wake-ups are coalesced: the first wakeThread of a burst moves
  // wakePending_ false -> true (any thread) and pushes the one kWake event;
  // the video thread moves it back to false as it handles that event, so a
  // wake-up asked after that pushes a new one. A surface's presents go the
  // same way through SdlSurface::presentPending_: the drawing thread's
  // change sets it and pushes kPresent, the video thread's takeDirty clears
  // it before it takes the dirty area.
  std::mutex lock_;
  std::atomic<bool> running_{false};
  bool failed_ = false;
  std::string startFailure_;
  std::string failure_;  // taken by the message that reports the failure
  DWORD videoThread_ = 0;
  Uint32 userEvent_ = 0;
  std::atomic<bool> wakePending_{false};
  SIZE screenSize_ = kScreenBeforeStart;
  std::shared_ptr<Surface> screen_;
  std::map<Uint32, NativeWindow> windows_;
  std::map<HWND, Uint32> ids_;
};

void SdlSurface::changed(const RECT& area) {
  if (!attached_) return;
  {
    std::lock_guard guard(dirtyLock_);
    dirty_ = UnionRects(dirty_, area);
  }
  if (!presentPending_.exchange(true)) display_.requestPresent(windowId_);
}

}  // namespace

std::unique_ptr<Display> MakeSdlDisplay() {
  return std::make_unique<SdlDisplay>();
}

}  // namespace win32::detail

// Leak checking (address-sanitizer builds): SDL's start-up opens a D-Bus
// connection that lives as long as the process, also when no X server
// answers, and the audio subsystem that Beep starts once is kept for the
// process too (its records are SDL's own). The sanitizer asks this hook
// which leaks are expected; other builds never call it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus\nleak:libSDL2\n";
}
