#include "runtime/krnShowHistory.h"

#include <cstring>

#include "runtime/kosFileIO.h"
#include "runtime/kosFmtIO.h"
#include "platform/kernel/Files.h"
#include "runtime/kosCodeSeg.h"
#include "runtime/kosMem.h"
#include "runtime/krExceptions.h"
#include "runtime/krnStart.h"
#include "runtime/krnStkScan.h"

K2C_HisNode* K2C_HisList = nullptr;

namespace {

constexpr char kFileName[] = "errinfo.$$$";
constexpr std::uint32_t kNameLimit = 256;
constexpr std::uint32_t kTextLimit = 1024;

void say(const char* text) {
  K2C_StdOut(text, static_cast<std::uint32_t>(std::strlen(text)));
  K2C_StdOutN();
}

// Created afresh for writing; a name that is a symbolic link or anything but
// a regular file is never written through (it may be another user's link in
// a shared directory).
bool createReportFile(win32::HANDLE& file) {
  file = win32::CreateFileA(kFileName, win32::GENERIC_WRITE, 0, nullptr, win32::OPEN_ALWAYS,
                            win32::FILE_ATTRIBUTE_NORMAL | win32::FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr);
  if (file == win32::INVALID_HANDLE_VALUE || file == nullptr) return false;
  if (win32::GetFileType(file) == win32::FILE_TYPE_DISK &&
      win32::SetFilePointer(file, 0, nullptr, win32::FILE_BEGIN) == 0 &&
      win32::SetEndOfFile(file)) {
    return true;
  }
  win32::CloseHandle(file);
  return false;
}

// Writes until the first failure, which closes the file at once; the writes
// after it are skipped.
class ReportFile {
 public:
  explicit ReportFile(win32::HANDLE file) : file_(file) {}
  ~ReportFile() {
    if (open_) K2C_FileClose(file_);
  }
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  void write(const char* text, std::uint32_t count) {
    if (!open_ || count == 0) return;
    std::uint32_t written = count;
    if (K2C_FileWrite(file_, text, written) != 0 || written != count) {
      K2C_FileClose(file_);
      open_ = false;
    }
  }
  void write(const char* text, std::uint32_t count, std::uint32_t limit) {
    write(text, static_cast<std::uint32_t>(strnlen(text, count < limit ? count : limit)));
  }
  void endLine() { write("\r\n", 2); }

 private:
  win32::HANDLE file_;
  bool open_ = true;
};

void writeCommandLine(ReportFile& out) {
  const char* program = K2C_argc > 0 && K2C_argv != nullptr ? K2C_argv[0] : "";
  out.write(program, kNameLimit, kNameLimit);
  out.write(" ", 1);
  if (K2C_sysarg != nullptr) out.write(K2C_sysarg, kNameLimit, kNameLimit);
  out.endLine();
}

void writeEntry(ReportFile& out, const K2C_HistoryEntry& entry) {
  char line[8 + 2 + 8 + 2];
  std::uint32_t pos = 0;
  K2C_HexToStr(line, pos, entry.offset);
  line[pos++] = ' ';
  line[pos++] = ' ';
  K2C_HexToStr(line, pos, entry.section);
  line[pos++] = ' ';
  line[pos++] = ' ';
  out.write(line, pos);
  char path[kNameLimit + 1] = {};
  const std::uint32_t length = K2C_GetModuleName(entry.module, path, sizeof path);
  out.write(path, length, kNameLimit);
  out.endLine();
}

void writeHistory(ReportFile& out) {
  writeCommandLine(out);
  const char* text = K2C_ExceptionText();
  if (text[0] != '\0') {
    out.write(text, kTextLimit, kTextLimit);
    out.endLine();
  }
  const K2C_History& history = K2C_CurrentHistory();
  const std::int16_t stored = history.count < K2C_HISTORY_SIZE ? history.count : K2C_HISTORY_SIZE;
  for (std::int16_t i = 0; i < stored; ++i) writeEntry(out, history.entries[i]);
  if (history.count > K2C_HISTORY_SIZE) {
    static constexpr char kTruncated[] = "#RTS: History stack was truncated: not enough room.";
    out.write(kTruncated, sizeof kTruncated - 1);
    out.endLine();
  }
}

}  // namespace

void K2C_HISTORY_REG(win32::HMODULE module, const void* address) {
  auto* node = static_cast<K2C_HisNode*>(K2C_gmalloc(sizeof(K2C_HisNode)));
  if (node == nullptr) K2C_TRAP_F(K2C_TRAP_NR_HEAP);
  kosCodeSeg::calcCodeExtent(module, address, node->start, node->end, node->section);
  node->module = module;
  K2C_HisNode** link = &K2C_HisList;
  while (*link != nullptr && (*link)->start <= node->start) link = &(*link)->next;
  node->next = *link;
  *link = node;
}

void K2C_HISTORY_ON() {
  if (K2C_stkScan != nullptr) return;
  K2C_stkScan = &K2C_STACK_SCAN_PROC;
  K2C_hisShow = &K2C_show_history_file;
}

void K2C_INIT_HISTORY() {
  K2C_HISTORY_REG(K2C_GetMyHandle(), reinterpret_cast<const void*>(&kStart));
  K2C_HISTORY_ON();
}

bool K2C_IS_CODESEG(std::uintptr_t address, std::uintptr_t& start, std::uint32_t& section,
                    win32::HMODULE& module) {
  for (const K2C_HisNode* node = K2C_HisList; node != nullptr; node = node->next) {
    if (node->start + 7 <= address && address <= node->end) {
      start = node->start;
      section = node->section;
      module = node->module;
      return true;
    }
  }
  return false;
}

void K2C_show_history_file() {
  K2C_StdOutN();
  win32::HANDLE file = nullptr;
  if (!createReportFile(file)) {
    say("#RTS: Can't create file errinfo.$$$");
    return;
  }
  say("File errinfo.$$$ created.");
  ReportFile out(file);
  writeHistory(out);
}
