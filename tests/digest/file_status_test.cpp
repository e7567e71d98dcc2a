#include "digest/file_status.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace dupfind::test {
namespace {

// A file made where another was deleted may be given its inode number; where
// the file system keeps birth times, it is still another file.
TEST(FileStatus, FileGivenTheInodeNumberOfADeletedOneIsAnotherFile) {
  TempDir folder;
  const std::string path = folder.File("first", "a");
  FileStatus first, now;
  ASSERT_TRUE(StatusAt(AT_FDCWD, path.c_str(), true, first));
  if (first.identity.born == 0) GTEST_SKIP() << "this file system keeps no birth times";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    ASSERT_EQ(::unlink(path.c_str()), 0);
    folder.File("first", "b");
    ASSERT_TRUE(StatusAt(AT_FDCWD, path.c_str(), true, now));
    if (now.identity.inode != first.identity.inode) continue;
    EXPECT_NE(now.identity, first.identity);
    return;
  }
  GTEST_SKIP() << "no inode number was given again in 1000 tries";
}

}  // namespace
}  // namespace dupfind::test
