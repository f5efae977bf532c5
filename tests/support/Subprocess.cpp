#include "tests/support/Subprocess.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "tests/support/SubprocessCommon.h"
#include "tests/support/TestFiles.h"

namespace testing_support {

std::string TemporaryOutputPath() {
  // A name nobody else has: the file is created only when none exists, so
  // two runs at once never share one.
  std::random_device seed;
  std::mt19937_64 names(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "shapeboard-out-%016llx",
                  static_cast<unsigned long long>(names()));
    const std::filesystem::path path = base / name;
    std::error_code failed;
    if (std::filesystem::exists(path, failed)) continue;
    std::ofstream(path, std::ios::binary);
    return path.generic_string();
  }
  throw std::runtime_error("no temporary file for the output");
}

void CollectFileOutput(const RunOptions& options, const std::string& path, RunResult& result) {
  if (options.stdoutTarget != StdoutTarget::File) return;
  result.out = ReadFile(path);
  if (options.stdoutPath.empty()) {
    std::error_code failed;
    std::filesystem::remove(path, failed);
  }
}

}  // namespace testing_support
