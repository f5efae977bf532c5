// The main of the tests that run the system in their own process: the
// platform starts as every program's does, before the first test can make a
// standard handle or open a console device.
#include <gtest/gtest.h>

#include "platform/Win32.h"

int main(int argc, char** argv) {
  win32::detail::ConnectConsoleHost();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
