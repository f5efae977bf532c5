// The runner of tests/support/Subprocess.h on Windows: CreateProcessA with
// pipes for the standard handles, each read on a thread of its own so that a
// program filling one while the runner waits on the other never stalls.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/SubprocessCommon.h"

namespace testing_support {
namespace {

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      close();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void close() {
    if (h_ != nullptr) ::CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// A pipe whose ends the runner keeps; only the child's end is made
// inheritable, and only that one is listed for the child below.
struct Pipe {
  Handle read;
  Handle write;
  Pipe() {
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!::CreatePipe(&r, &w, nullptr, 0)) throw std::runtime_error("CreatePipe failed");
    read = Handle(r);
    write = Handle(w);
  }
};

void makeInheritable(const Handle& h) {
  ::SetHandleInformation(h.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

// One argument as CommandLineToArgvW (and the C run-time's start-up) reads
// it back: quotes around it when it holds blanks or quotes or is empty;
// backslashes are literal except before a quote, where each one is doubled
// and the quote escaped.
std::string quoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  // The closing quote follows: the backslashes before it are doubled so
  // they stay backslashes.
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string entryName(const std::string& entry) {
  // An entry may start with '=' (the per-drive directories): its name runs
  // to the next one.
  const std::size_t eq = entry.find('=', 1);
  return upper(entry.substr(0, eq));
}

// The runner's environment with the extra entries in place of the ones of
// the same name (names are case-insensitive on Windows), as a block of
// NUL-ended strings ended by one more NUL.
std::string environmentBlock(const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  if (char* block = ::GetEnvironmentStringsA()) {
    for (const char* at = block; *at != '\0'; at += std::char_traits<char>::length(at) + 1) {
      entries.emplace_back(at);
    }
    ::FreeEnvironmentStringsA(block);
  }
  for (const std::string& entry : extra) {
    const std::string name = entryName(entry);
    std::erase_if(entries, [&](const std::string& e) { return entryName(e) == name; });
    entries.push_back(entry);
  }
  // Windows keeps the block sorted by name; programs that search it may rely
  // on that.
  std::sort(entries.begin(), entries.end(),
            [](const std::string& a, const std::string& b) { return upper(a) < upper(b); });
  std::string out;
  for (const std::string& e : entries) out += e + '\0';
  out += '\0';
  return out;
}

// The tests name helper programs as on Linux, without ".exe".
std::string programPath(const std::string& path) {
  const std::filesystem::path p(path);
  std::error_code failed;
  if (!p.has_extension() && !std::filesystem::exists(p, failed)) return path + ".exe";
  return path;
}

void readAll(HANDLE from, std::string& into) {
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(from, buffer, sizeof buffer, &n, nullptr) && n > 0) into.append(buffer, n);
}

std::string joinCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line.append(" ");
    line.append(quoteArgument(a));
  }
  return line;
}

}  // namespace

RunResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                     const RunOptions& options) {
  if (options.stdoutTarget == StdoutTarget::DevFull ||
      options.stdoutTarget == StdoutTarget::Terminal) {
    throw std::runtime_error("this standard output target has no Windows equivalent");
  }
  const std::string program = programPath(path);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string commandLine = joinCommandLine(argv);
  std::string environment = environmentBlock(options.environment);

  Pipe in;
  Pipe err;
  Pipe out;
  Handle childOut;
  std::string outPath = options.stdoutPath;
  if (options.stdoutTarget == StdoutTarget::File) {
    if (outPath.empty()) outPath = TemporaryOutputPath();
    childOut = Handle(::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!childOut) throw std::runtime_error(std::string("cannot create ").append(outPath));
    out.read.close();
    out.write.close();
  } else {
    childOut = std::move(out.write);
    // A pipe nobody reads: the program's writes fail as they do on Linux
    // after SIGPIPE is ignored (ERROR_NO_DATA or ERROR_BROKEN_PIPE).
    if (options.stdoutTarget == StdoutTarget::ClosedPipe) out.read.close();
  }
  makeInheritable(in.read);
  makeInheritable(childOut);
  makeInheritable(err.write);

  // Only these three handles reach the child, so a program started by
  // another thread at the same time holds none of this one's pipes open.
  HANDLE inherited[3] = {in.read.get(), childOut.get(), err.write.get()};
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributeStorage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size) ||
      !::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr)) {
    throw std::runtime_error("cannot list the inherited handles");
  }

  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = in.read.get();
  startup.StartupInfo.hStdOutput = childOut.get();
  startup.StartupInfo.hStdError = err.write.get();
  startup.lpAttributeList = attributes;

  // A program that crashes ends with its exception code: no error dialog
  // or debugger waits for someone to dismiss it (the child inherits the
  // error mode).
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessA(
      program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
      environment.data(),
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(),
      &startup.StartupInfo, &info);
  const DWORD startError = ::GetLastError();
  ::DeleteProcThreadAttributeList(attributes);
  if (!started) {
    throw std::runtime_error(std::string("CreateProcess failed for ")
                                 .append(program)
                                 .append(" (error ")
                                 .append(std::to_string(startError))
                                 .append(")"));
  }
  Handle process(info.hProcess);
  Handle thread(info.hThread);
  // The child has its own copies: the pipes end when it (and whatever it
  // started) closes them.
  in.read.close();
  childOut.close();
  err.write.close();

  RunResult result;
  std::string captured;
  std::thread outReader;
  if (out.read) outReader = std::thread([&] { readAll(out.read.get(), captured); });
  std::thread errReader([&] { readAll(err.read.get(), result.err); });
  std::thread writer([&] {
    DWORD written = 0;
    std::size_t at = 0;
    while (at < options.stdinData.size()) {
      const DWORD chunk =
          static_cast<DWORD>(std::min<std::size_t>(options.stdinData.size() - at, 1 << 16));
      if (!::WriteFile(in.write.get(), options.stdinData.data() + at, chunk, &written, nullptr)) {
        break;
      }
      at += written;
    }
    in.write.close();
  });

  const DWORD limit = static_cast<DWORD>(options.timeoutSeconds) * 1000;
  if (::WaitForSingleObject(process.get(), limit) != WAIT_OBJECT_0) {
    result.timedOut = true;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), INFINITE);
  }
  writer.join();
  if (outReader.joinable()) outReader.join();
  errReader.join();

  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  result.exitCode = static_cast<int>(code);
  result.out = captured;
  CollectFileOutput(options, outPath, result);
  return result;
}

std::string ExecutableDirectory() {
  char path[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".";
  // Forward slashes, as the tests join names to it with one.
  std::string full(path, n);
  std::replace(full.begin(), full.end(), '\\', '/');
  return full.substr(0, full.find_last_of('/'));
}

}  // namespace testing_support
