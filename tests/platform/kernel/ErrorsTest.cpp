#include "platform/kernel/Errors.h"
#include "platform/kernel/ErrorsInternal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace {

using namespace win32;

TEST(ErrorsTest, MapsErrnoValuesToWindowsCodes) {
  EXPECT_EQ(detail::ErrorFromErrno(0), ERROR_SUCCESS);
  EXPECT_EQ(detail::ErrorFromErrno(EBADF), 6u);
  EXPECT_EQ(detail::ErrorFromErrno(ENOENT), 2u);
  EXPECT_EQ(detail::ErrorFromErrno(EACCES), 5u);
  EXPECT_EQ(detail::ErrorFromErrno(EPERM), 5u);
  EXPECT_EQ(detail::ErrorFromErrno(ENOSPC), 112u);
  EXPECT_EQ(detail::ErrorFromErrno(EDQUOT), 112u);
  EXPECT_EQ(detail::ErrorFromErrno(EPIPE), 109u);
  EXPECT_EQ(detail::ErrorFromErrno(EEXIST), 80u);
  EXPECT_EQ(detail::ErrorFromErrno(EINVAL), 87u);
  EXPECT_EQ(detail::ErrorFromErrno(ENOMEM), 8u);
  EXPECT_EQ(detail::ErrorFromErrno(EMFILE), 4u);
  EXPECT_EQ(detail::ErrorFromErrno(ENOTDIR), 3u);
  EXPECT_EQ(detail::ErrorFromErrno(EROFS), 19u);
  EXPECT_EQ(detail::ErrorFromErrno(EIO), 1117u);
  EXPECT_EQ(detail::ErrorFromErrno(ESPIPE), 25u);
}

TEST(ErrorsTest, UnknownErrnoBecomesInvalidFunction) {
  EXPECT_EQ(detail::ErrorFromErrno(-12345), ERROR_INVALID_FUNCTION);
}

TEST(ErrorsTest, LastErrorBelongsToEachThread) {
  SetLastError(ERROR_DISK_FULL);
  DWORD seenOnOtherThread = 99;
  std::thread other([&] {
    seenOnOtherThread = GetLastError();
    detail::SetLastErrorFromErrno(EPIPE);
  });
  other.join();
  EXPECT_EQ(seenOnOtherThread, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

}  // namespace
