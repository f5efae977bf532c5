#include "platform/kernel/ProcessInternal.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/kernel/ErrorsInternal.h"

namespace win32 {
namespace {

std::atomic<UINT> errorMode{0};

// Exit hooks live in a fixed array so that a fatal signal handler can run them
// without allocating; each slot is taken (exchanged to null) by its one run.
constexpr int kMaxExitHooks = 32;
std::atomic<void (*)()> exitHooks[kMaxExitHooks];
std::atomic<int> exitHookCount{0};
std::atomic<void (*)()> displayLostHandler{nullptr};

std::vector<std::string> readProcessArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::string current;
  for (char c : raw) {
    if (c != '\0') {
      current += c;
      continue;
    }
    arguments.push_back(current);
    current.clear();
  }
  if (!current.empty()) arguments.push_back(current);
  return arguments;
}

bool needsQuotes(const std::string& argument) {
  return argument.empty() || argument.find_first_of(" \t") != std::string::npos;
}

// Backslashes are ordinary except right before a quote, where the splitter
// turns backslash-quote into a quote; so every quote is written escaped, and a
// closing quote goes before the trailing backslashes, which would otherwise
// escape it.
std::string quoteArgument(const std::string& argument) {
  if (argument.empty()) return "\"\"";
  std::string body;
  for (char c : argument) {
    if (c == '"') body += '\\';
    body += c;
  }
  if (!needsQuotes(argument)) return body;
  const std::size_t lastNonBackslash = body.find_last_not_of('\\');
  const std::size_t tail = lastNonBackslash == std::string::npos ? 0 : lastNonBackslash + 1;
  return '"' + body.substr(0, tail) + '"' + body.substr(tail);
}

}  // namespace

LPCSTR GetCommandLineA() {
  static const std::string* commandLine =
      new std::string(detail::JoinCommandLine(readProcessArguments()));
  return commandLine->c_str();
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module != nullptr && module != GetModuleHandleA(nullptr)) {
    SetLastError(ERROR_INVALID_HANDLE);  // only the executable is a module here
    return 0;
  }
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length < 0) {
    detail::SetLastErrorFromErrno(errno);
    return 0;
  }
  const auto full = static_cast<DWORD>(length);
  const DWORD copied = full < size ? full : size - 1;
  std::memcpy(buffer, path, copied);
  buffer[copied] = '\0';
  SetLastError(copied < full ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
  return copied < full ? size : copied;
}

// The platform is linked into the executable, so the object that holds this
// function is the executable, and its base is where its ELF header is mapped.
HMODULE GetModuleHandleA(LPCSTR name) {
  if (name != nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&GetModuleHandleA), &info) == 0) return nullptr;
  return static_cast<HMODULE>(info.dli_fbase);
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
    *module = GetModuleHandleA(name);
    return *module != nullptr ? TRUE : FALSE;
  }
  Dl_info info{};
  if (name == nullptr || ::dladdr(name, &info) == 0 || info.dli_fbase == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  *module = static_cast<HMODULE>(info.dli_fbase);
  return TRUE;
}

UINT SetErrorMode(UINT mode) {
  return errorMode.exchange(mode);
}

void ExitProcess(UINT exitCode) {
  detail::RunExitHooks();
  ::_exit(static_cast<int>(exitCode));
}

namespace detail {

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += quoteArgument(argument);
  }
  return line;
}

void AddExitHook(void (*hook)()) {
  const int slot = exitHookCount.fetch_add(1);
  if (slot < kMaxExitHooks) {
    exitHooks[slot].store(hook);
  } else {
    exitHookCount.fetch_sub(1);
  }
}

void SetDisplayLostHandler(void (*handler)()) {
  displayLostHandler.store(handler);
}

void DisplayLost() {
  if (void (*handler)() = displayLostHandler.load()) handler();
  ExitProcess(9);
}

void RunExitHooks() {
  for (int slot = exitHookCount.load() - 1; slot >= 0; --slot) {
    if (void (*hook)() = exitHooks[slot].exchange(nullptr)) hook();
  }
}

}  // namespace detail
}  // namespace win32
