#include "tests/support/Subprocess.h"

#include <filesystem>
#include <fstream>

#include "tests/support/SubprocessCommon.h"
#include "tests/support/TestFiles.h"

namespace testing_support {

std::string TemporaryOutputPath() {
  // The file is created only where none exists, so two runs at once never
  // share one.
  return MakeTemporary("out", [](const std::filesystem::path& path) {
    std::error_code failed;
    if (std::filesystem::exists(path, failed)) return false;
    std::ofstream(path, std::ios::binary);
    return true;
  });
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
