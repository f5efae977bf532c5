// The Graph server thread is never stopped: it lives until the process ends.
// Like every program of this system, the tests therefore end through
// ExitProcess rather than by returning from main, which would destroy
// static objects that the server thread may still be using.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/Win32.h"

int main(int argc, char** argv) {
  win32::detail::ConnectConsoleHost();
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  win32::ExitProcess(static_cast<win32::UINT>(result));
}
