// What the POSIX and the Windows runner of tests/support/Subprocess.h share.
#pragma once

#include <string>

#include "tests/support/Subprocess.h"

namespace testing_support {

// A fresh file in the system's temporary directory for a program's output.
std::string TemporaryOutputPath();

// For StdoutTarget::File: the file's contents become the result's output,
// and a temporary file (no stdoutPath given) goes away.
void CollectFileOutput(const RunOptions& options, const std::string& path, RunResult& result);

}  // namespace testing_support
