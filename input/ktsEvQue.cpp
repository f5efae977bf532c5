#include "input/ktsEvQue.h"

#include <array>
#include <atomic>
#include <mutex>

#include "channels/ChanConsts.h"
#include "channels/IOChan.h"
#include "channels/IOConsts.h"
#include "channels/IOLink.h"
#include "channels/StdChans.h"
#include "channels/kDevData.h"
#include "graph/ktsIGraph.h"
#include "input/ConsoleChannel.h"
#include "runtime/ModuleInit.h"
#include "runtime/Storage.h"
#include "runtime/TERMINATION.h"
#include "runtime/krExceptions.h"
#include "runtime/krnK2C.h"

namespace ktsEvQue {
namespace {

// ---- Key tables -----------------------------------------------------------------

struct Cell {
  std::uint8_t ch;
  std::uint8_t code;
  bool present;
};

constexpr Cell C(std::uint8_t ch) {
  return {ch, 0, true};
}
constexpr Cell K(std::uint8_t code) {
  return {0, code, true};
}
constexpr Cell CK(std::uint8_t ch, std::uint8_t code) {
  return {ch, code, true};
}
constexpr Cell N{0, 0, false};

enum Column { Plain = 0, Shift = 1, Ctrl = 2, Alt = 3 };
using Row = std::array<Cell, 4>;

constexpr std::size_t kPlainRows = 0x59;  // scan codes 0x00 to 0x58

struct ListedRow {
  std::uint8_t scan;
  Row cells;
};

// The rows that follow no rule.
constexpr ListedRow kListedRows[] = {
    {0x01, {C(0x1B), C(0x1B), C(0x1B), K(0x01)}},  // Esc
    {0x02, {C(0x31), C(0x21), N, K(0x78)}},        // 1
    {0x03, {C(0x32), C(0x40), K(0x03), K(0x79)}},  // 2
    {0x04, {C(0x33), C(0x23), N, K(0x7A)}},        // 3
    {0x05, {C(0x34), C(0x24), N, K(0x7B)}},        // 4
    {0x06, {C(0x35), C(0x25), N, K(0x7C)}},        // 5
    {0x07, {C(0x36), C(0x5E), C(0x1E), K(0x7D)}},  // 6
    {0x08, {C(0x37), C(0x26), N, K(0x7E)}},        // 7
    {0x09, {C(0x38), C(0x2A), N, K(0x7F)}},        // 8
    {0x0A, {C(0x39), C(0x28), N, K(0x80)}},        // 9
    {0x0B, {C(0x30), C(0x29), N, K(0x81)}},        // 0
    {0x0C, {C(0x2D), C(0x5F), C(0x1F), K(0x82)}},  // minus
    {0x0D, {C(0x3D), C(0x2B), N, K(0x83)}},        // equals
    {0x0E, {C(0x08), C(0x08), C(0x7F), K(0x0E)}},  // Backspace
    {0x0F, {C(0x09), K(0x0F), K(0x94), K(0x0F)}},  // Tab
    {0x1A, {C(0x5B), C(0x7B), C(0x1B), K(0x1A)}},  // [
    {0x1B, {C(0x5D), C(0x7D), C(0x1D), K(0x1B)}},  // ]
    {0x1C, {C(0x0D), C(0x0D), C(0x0A), K(0x1C)}},  // Enter
    {0x27, {C(0x3B), C(0x3A), N, K(0x27)}},        // ;
    {0x28, {C(0x27), C(0x22), N, K(0x28)}},        // '
    {0x29, {C(0x60), C(0x7E), N, K(0x29)}},        // `
    {0x2B, {C(0x5C), C(0x7C), C(0x1C), K(0x2B)}},  // backslash
    {0x33, {C(0x2C), C(0x3C), N, K(0x33)}},        // ,
    {0x34, {C(0x2E), C(0x3E), N, K(0x34)}},        // .
    {0x35, {C(0x2F), C(0x3F), N, K(0x35)}},        // /
    {0x37, {C(0x2A), C(0x2A), K(0x96), K(0x37)}},  // keypad *
    {0x39, {C(0x20), C(0x20), C(0x20), C(0x20)}},  // Space
    {0x47, {K(0x47), C(0x37), K(0x77), N}},        // keypad 7 / Home
    {0x48, {K(0x48), C(0x38), K(0x8D), N}},        // keypad 8 / Up
    {0x49, {K(0x49), C(0x39), K(0x84), N}},        // keypad 9 / Page Up
    {0x4A, {C(0x2D), C(0x2D), K(0x8E), K(0x4A)}},  // keypad minus
    {0x4B, {K(0x4B), C(0x34), K(0x73), N}},        // keypad 4 / Left
    {0x4C, {N, C(0x35), N, N}},                    // keypad 5
    {0x4D, {K(0x4D), C(0x36), K(0x74), N}},        // keypad 6 / Right
    {0x4E, {C(0x2B), C(0x2B), K(0x90), K(0x4E)}},  // keypad plus
    {0x4F, {K(0x4F), C(0x31), K(0x75), N}},        // keypad 1 / End
    {0x50, {K(0x50), C(0x32), K(0x91), N}},        // keypad 2 / Down
    {0x51, {K(0x51), C(0x33), K(0x76), N}},        // keypad 3 / Page Down
    {0x52, {K(0x52), C(0x30), K(0x92), N}},        // keypad 0 / Insert
    {0x53, {K(0x53), C(0x2E), K(0x93), N}},        // keypad . / Delete
    {0x57, {K(0x85), K(0x87), K(0x89), K(0x8B)}},  // F11
    {0x58, {K(0x86), K(0x88), K(0x8A), K(0x8C)}},  // F12
};

// Letter keys give the letter, its capital, its control character and the
// scan code with Alt; F1 to F10 give their codes in four ranges.
constexpr void addLetters(std::array<Row, kPlainRows>& table, std::uint8_t firstScan,
                          const char* letters) {
  for (std::uint8_t i = 0; letters[i] != '\0'; ++i) {
    const auto lower = static_cast<std::uint8_t>(letters[i]);
    const auto scan = static_cast<std::uint8_t>(firstScan + i);
    table[scan] = {C(lower), C(static_cast<std::uint8_t>(lower - 0x20)),
                   C(static_cast<std::uint8_t>(lower - 0x60)), K(scan)};
  }
}

constexpr std::array<Row, kPlainRows> makePlainKeyTable() {
  std::array<Row, kPlainRows> table{};
  for (Row& row : table) row = {N, N, N, N};
  addLetters(table, 0x10, "qwertyuiop");
  addLetters(table, 0x1E, "asdfghjkl");
  addLetters(table, 0x2C, "zxcvbnm");
  for (std::uint8_t scan = 0x3B; scan <= 0x44; ++scan) {
    table[scan] = {K(scan), K(static_cast<std::uint8_t>(scan + 0x19)),
                   K(static_cast<std::uint8_t>(scan + 0x23)),
                   K(static_cast<std::uint8_t>(scan + 0x2D))};
  }
  for (const ListedRow& row : kListedRows) table[row.scan] = row.cells;
  return table;
}

constexpr std::array<Row, kPlainRows> plainKeyTable = makePlainKeyTable();

// Keys whose records carry ENHANCED_KEY: the cursor block, keypad Enter and
// keypad slash.
constexpr ListedRow enhancedKeyTable[] = {
    {0x1C, {CK(0x0D, 0xE0), CK(0x0D, 0xE0), CK(0x0A, 0xE0), K(0xA6)}},  // keypad Enter
    {0x35, {CK(0x2F, 0xE0), CK(0x3F, 0xE0), K(0x95), K(0xA4)}},         // keypad slash
    {0x47, {K(0x47), K(0x47), K(0x77), K(0x97)}},                       // Home
    {0x48, {K(0x48), K(0x48), K(0x8D), K(0x98)}},                       // Up
    {0x49, {K(0x49), K(0x49), K(0x84), K(0x99)}},                       // Page Up
    {0x4B, {K(0x4B), K(0x4B), K(0x73), K(0x9B)}},                       // Left
    {0x4D, {K(0x4D), K(0x4D), K(0x74), K(0x9D)}},                       // Right
    {0x4F, {K(0x4F), K(0x4F), K(0x75), K(0x9F)}},                       // End
    {0x50, {K(0x50), K(0x50), K(0x91), K(0xA0)}},                       // Down
    {0x51, {K(0x51), K(0x51), K(0x76), K(0xA1)}},                       // Page Down
    {0x52, {K(0x52), K(0x52), K(0x92), K(0xA2)}},                       // Insert
    {0x53, {K(0x53), K(0x53), K(0x93), K(0xA3)}},                       // Delete
};

constexpr win32::DWORD kLockKeys = win32::NUMLOCK_ON | win32::SCROLLLOCK_ON | win32::CAPSLOCK_ON;
constexpr win32::DWORD kAltKeys = win32::RIGHT_ALT_PRESSED | win32::LEFT_ALT_PRESSED;
constexpr win32::DWORD kCtrlKeys = win32::RIGHT_CTRL_PRESSED | win32::LEFT_CTRL_PRESSED;
constexpr win32::WORD kLeftShiftScan = 0x2A;

// One Alt or one Ctrl key, alone or with ENHANCED_KEY, or ENHANCED_KEY alone:
// the console's character is not the key's own then.
bool dropsCharacter(win32::DWORD ctrlState) {
  switch (ctrlState) {
    case win32::RIGHT_ALT_PRESSED:
    case win32::LEFT_ALT_PRESSED:
    case win32::RIGHT_CTRL_PRESSED:
    case win32::LEFT_CTRL_PRESSED:
    case win32::ENHANCED_KEY:
    case win32::ENHANCED_KEY | win32::RIGHT_ALT_PRESSED:
    case win32::ENHANCED_KEY | win32::LEFT_ALT_PRESSED:
    case win32::ENHANCED_KEY | win32::RIGHT_CTRL_PRESSED:
    case win32::ENHANCED_KEY | win32::LEFT_CTRL_PRESSED:
      return true;
    default:
      return false;
  }
}

std::uint8_t characterCandidate(const win32::KEY_EVENT_RECORD& key, win32::DWORD ctrlState) {
  const auto ascii = static_cast<std::uint8_t>(key.uChar.AsciiChar);
  if (ctrlState == win32::SHIFT_PRESSED) return key.wVirtualScanCode == kLeftShiftScan ? 0 : ascii;
  return dropsCharacter(ctrlState) ? 0 : ascii;
}

Column columnOf(win32::DWORD ctrlState) {
  if ((ctrlState & kAltKeys) != 0) return Alt;
  if ((ctrlState & kCtrlKeys) != 0) return Ctrl;
  if ((ctrlState & win32::SHIFT_PRESSED) != 0) return Shift;
  return Plain;
}

const Cell* cellOf(win32::WORD scan, win32::DWORD ctrlState) {
  const Column column = columnOf(ctrlState);
  if ((ctrlState & win32::ENHANCED_KEY) != 0) {
    for (const ListedRow& row : enhancedKeyTable) {
      if (row.scan == scan) return &row.cells[column];
    }
    return nullptr;
  }
  if (scan >= kPlainRows) return nullptr;
  return &plainKeyTable[scan][column];
}

// ---- Queue and handlers -------------------------------------------------------

constexpr std::size_t kQueueCapacity = 33;  // indices 0 to 32
constexpr win32::DWORD kFullBeepHz = 300;
constexpr win32::DWORD kFullBeepMs = 100;
constexpr win32::DWORD kRetryPauseMs = 10;
constexpr win32::SIZE_T kReaderStackSize = 32767;
constexpr win32::DWORD kConsoleInputMode = win32::ENABLE_PROCESSED_INPUT |
                                           win32::ENABLE_LINE_INPUT | win32::ENABLE_ECHO_INPUT |
                                           win32::ENABLE_MOUSE_INPUT;
constexpr std::uint32_t kNoSyncObjects = 15;

// The queued keys, oldest first. The reader and the consumers change keys
// and count under lock; peekKey reads count alone to see an empty queue.
// keyAvailable is signalled while count > 0.
struct KeyQueue {
  std::mutex lock;
  std::array<KeyEntry, kQueueCapacity> keys{};
  std::atomic<std::uint8_t> count{0};
  win32::HANDLE keyAvailable = nullptr;
  std::atomic<std::uint32_t> dropped{0};
};

// Never destroyed: the reader thread outlives every static destructor.
KeyQueue& keyQueue() {
  static KeyQueue* queue = new KeyQueue;
  return *queue;
}

struct HandlerNode {
  MouseHandler handler;
  HandlerNode* next;
};

// Newest first; nodes live until the process ends. Atomic because the reader
// walks the chain while module bodies may still add to it.
std::atomic<HandlerNode*> mouseHandlers{nullptr};

// The console input handle and the mode found at start.
struct ConsoleInput {
  win32::HANDLE conIn = nullptr;
  win32::DWORD savedMode = 0;
  bool modeSaved = false;
};
ConsoleInput console;

bool initialised = false;

void takeFirst(KeyQueue& queue, char& ch, std::uint8_t& scan) {
  const KeyEntry& first = queue.keys[0];
  ch = first.ch;
  scan = first.code != 0 ? first.code : static_cast<std::uint8_t>(first.scanCode & 0xFF);
}

void queueKey(const KeyEntry& entry) {
  KeyQueue& queue = keyQueue();
  std::unique_lock guard(queue.lock);
  const std::uint8_t count = queue.count.load();
  if (count >= kQueueCapacity) {
    guard.unlock();
    queue.dropped.fetch_add(1);
    win32::Beep(kFullBeepHz, kFullBeepMs);
    return;
  }
  queue.keys[count] = entry;
  queue.count.store(static_cast<std::uint8_t>(count + 1));
  if (count == 0) win32::SetEvent(queue.keyAvailable);
}

void handleKey(const win32::KEY_EVENT_RECORD& key) {
  if (key.bKeyDown == 0) return;
  const auto pair = detail::translateKey(key);
  if (!pair) return;
  queueKey({pair->ch, pair->code, key.wVirtualScanCode});
}

void handleMouse(const win32::MOUSE_EVENT_RECORD& mouse) {
  MouseEvent event{mouse.dwMousePosition.X, mouse.dwMousePosition.Y,
                   static_cast<std::uint8_t>(mouse.dwButtonState & 0x07)};
  for (HandlerNode* node = mouseHandlers.load(std::memory_order_acquire); node != nullptr;
       node = node->next) {
    if (node->handler(event)) return;
  }
}

// A standard input that is a file or a pipe has no records to read; the
// reader then has nothing to wait for.
bool isConsoleInput(win32::HANDLE input) {
  win32::DWORD pending = 0;
  return win32::GetNumberOfConsoleInputEvents(input, &pending) != 0;
}

win32::DWORD WINAPI readerThread(win32::LPVOID) {
  const win32::HANDLE conIn = console.conIn;
  for (;;) {
    if (win32::WaitForSingleObject(conIn, win32::INFINITE) != win32::WAIT_OBJECT_0) {
      if (!isConsoleInput(conIn)) return 0;
      win32::Sleep(kRetryPauseMs);
      continue;
    }
    win32::INPUT_RECORD record{};
    win32::DWORD read = 0;
    if (win32::ReadConsoleInputA(conIn, &record, 1, &read) == 0 || read == 0) {
      if (!isConsoleInput(conIn)) return 0;
      continue;
    }
    detail::handleRecord(record);
  }
}

void restoreMode() {
  if (console.modeSaved) win32::SetConsoleMode(console.conIn, console.savedMode);
}

}  // namespace

namespace detail {

std::optional<KeyPair> translateKey(const win32::KEY_EVENT_RECORD& key) {
  const win32::DWORD ctrlState = key.dwControlKeyState & ~kLockKeys;
  const std::uint8_t c = characterCandidate(key, ctrlState);
  if (c != 0) return KeyPair{static_cast<char>(c), 0};
  const Cell* cell = cellOf(key.wVirtualScanCode, ctrlState);
  if (cell == nullptr || !cell->present) return std::nullopt;
  return KeyPair{static_cast<char>(cell->ch), cell->code};
}

void handleRecord(const win32::INPUT_RECORD& record) {
  switch (record.EventType) {
    case win32::KEY_EVENT:
      handleKey(record.Event.KeyEvent);
      break;
    case win32::MOUSE_EVENT:
      handleMouse(record.Event.MouseEvent);
      break;
    default:
      break;  // focus, menu and buffer-size records mean nothing here
  }
}

std::uint32_t droppedKeys() {
  return keyQueue().dropped.load();
}

}  // namespace detail

void AddMouseHandler(MouseHandler handler) {
  auto* node = static_cast<HandlerNode*>(K2C_AllocMem(sizeof(HandlerNode)));
  if (node == nullptr) K2C_TRAP_F(K2C_TRAP_NR_HEAP);
  node->handler = handler;
  node->next = mouseHandlers.load(std::memory_order_relaxed);
  mouseHandlers.store(node, std::memory_order_release);
}

bool peekKey(char& ch, std::uint8_t& scan) {
  KeyQueue& queue = keyQueue();
  if (queue.count.load() == 0) return false;
  std::lock_guard guard(queue.lock);
  // Another consumer may have taken the last key meanwhile.
  if (queue.count.load() == 0) return false;
  takeFirst(queue, ch, scan);
  return true;
}

bool getKey(char& ch, std::uint8_t& scan, bool wait) {
  KeyQueue& queue = keyQueue();
  if (queue.count.load() == 0 && !wait) return false;
  for (;;) {
    // Alertable, so that the run-time's break reaches a thread waiting here.
    const win32::DWORD result =
        win32::WaitForSingleObjectEx(queue.keyAvailable, win32::INFINITE, win32::TRUE);
    if (result == win32::WAIT_IO_COMPLETION) continue;
    if (result != win32::WAIT_OBJECT_0) return false;
    std::lock_guard guard(queue.lock);
    const std::uint8_t count = queue.count.load();
    if (count == 0) {  // another consumer was first
      if (!wait) return false;
      continue;
    }
    takeFirst(queue, ch, scan);
    for (std::uint8_t i = 1; i < count; ++i) queue.keys[i - 1] = queue.keys[i];
    queue.count.store(static_cast<std::uint8_t>(count - 1));
    if (count == 1) win32::ResetEvent(queue.keyAvailable);
    return true;
  }
}

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
  IOConsts::BEGIN();
  ChanConsts::BEGIN();
  kDevData::BEGIN();
  IOChan::BEGIN();
  IOLink::BEGIN();
  StdChans::BEGIN();
  ktsIGraph::BEGIN();
  K2C_FINALLY(restoreMode);
  mouseHandlers.store(nullptr);
  console.conIn = ktsIGraph::hConsoleInput;
  if (win32::GetConsoleMode(console.conIn, &console.savedMode) != 0) {
    console.modeSaved = true;
    if (win32::SetConsoleMode(console.conIn, kConsoleInputMode) != 0) installConsoleChannel();
  }
  KeyQueue& queue = keyQueue();
  queue.count.store(0);
  queue.keyAvailable = win32::CreateEventA(nullptr, win32::TRUE, win32::FALSE, nullptr);
  if (queue.keyAvailable == nullptr) K2C_ASSERT_F(kNoSyncObjects);
  win32::DWORD threadId = 0;
  // Without its reader no key would ever arrive and getKey would wait for
  // ever: a missing thread is as fatal as a missing event.
  if (win32::CreateThread(nullptr, kReaderStackSize, readerThread, nullptr, 0, &threadId) ==
      nullptr) {
    K2C_ASSERT_F(kNoSyncObjects);
  }
}

}  // namespace ktsEvQue
