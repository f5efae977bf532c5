#include "platform/display/Display.h"
#include "platform/display/DisplayTesting.h"

#include <atomic>
#include <mutex>

#include "platform/display/MemoryDisplay.h"
#include "platform/display/SdlDisplay.h"

namespace win32::detail {

namespace {

struct Selection {
  std::mutex lock;
  DisplayKind kind = DisplayKind::Sdl;
  std::atomic<Display*> display{nullptr};  // made once, lives until the process ends
};

Selection& selection() {
  static Selection* instance = new Selection;
  return *instance;
}

}  // namespace

bool SelectDisplay(DisplayKind kind) {
  std::lock_guard guard(selection().lock);
  if (selection().display.load() != nullptr) return kind == selection().kind;
  selection().kind = kind;
  return true;
}

DisplayKind SelectedDisplay() {
  std::lock_guard guard(selection().lock);
  return selection().kind;
}

Display& CurrentDisplay() {
  if (Display* display = selection().display.load(std::memory_order_acquire)) return *display;
  std::lock_guard guard(selection().lock);
  if (selection().display.load() == nullptr) {
    Display* made = selection().kind == DisplayKind::Memory ? MakeMemoryDisplay().release()
                                                            : MakeSdlDisplay().release();
    selection().display.store(made, std::memory_order_release);
  }
  return *selection().display.load();
}

Display* DisplayInUse() {
  return selection().display.load(std::memory_order_acquire);
}

void WakeDisplayThread(DWORD threadId) {
  if (Display* display = DisplayInUse()) display->wakeThread(threadId);
}

namespace {
// Set once the window manager opens a window (release), read by the
// back-ends' input threads (acquire); never cleared.
std::atomic<InputSink*> inputSink{nullptr};
}  // namespace

void SetInputSink(InputSink& sink) {
  inputSink.store(&sink, std::memory_order_release);
}

void ReportMouseMove(HWND window, std::int32_t x, std::int32_t y) {
  if (InputSink* sink = inputSink.load(std::memory_order_acquire)) sink->mouseMove(window, x, y);
}

void ReportMouseButton(HWND window, MouseButton button, bool down, std::int32_t x, std::int32_t y) {
  if (InputSink* sink = inputSink.load(std::memory_order_acquire)) {
    sink->mouseButton(window, button, down, x, y);
  }
}

void ReportKey(HWND window, const KeyFact& key) {
  if (InputSink* sink = inputSink.load(std::memory_order_acquire)) sink->key(window, key);
}

void ReportFocus(HWND window, bool gained) {
  if (InputSink* sink = inputSink.load(std::memory_order_acquire)) sink->focus(window, gained);
}

void ReportClose(HWND window) {
  if (InputSink* sink = inputSink.load(std::memory_order_acquire)) sink->close(window);
}

void ReportExposure(HWND window, const RECT& clientArea) {
  if (InputSink* sink = inputSink.load(std::memory_order_acquire)) {
    sink->exposure(window, clientArea);
  }
}

}  // namespace win32::detail
