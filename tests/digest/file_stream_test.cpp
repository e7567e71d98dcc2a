#include "digest/file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <iterator>
#include <string>

#include "test_files.h"

namespace dupfind {
namespace {

namespace fs = std::filesystem;
using testing::ErrorText;
using testing::TempFolder;

std::ptrdiff_t OpenDescriptors() {
  return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// Tries to take the exclusive lock through an open file description of our own.
bool CanLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

// Runs in a fresh current folder, so that relative paths name files of the test.
class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::current_path(folder_.path());
    here_ = fs::current_path().native();
  }
  void TearDown() override { fs::current_path(saved_); }

  const fs::path saved_ = fs::current_path();
  TempFolder folder_;
  std::string here_;  // the current folder as the system reports it
};

// The path is normalised as text: ".." after a link undoes the link, not the
// folder it points to.
TEST_F(FileStreamTest, MissingFileIsNamedByItsNormalisedAbsolutePath) {
  EXPECT_EQ(ErrorText([] { DigestOfFile("a/./b/../c"); }),
            "Cannot open file \"" + here_ + "/a/c\". No such file or directory");
  fs::create_directories("deep/real");
  fs::create_directory_symlink("deep/real", "link");
  EXPECT_EQ(ErrorText([] { DigestOfFile("link/../missing"); }),
            "Cannot open file \"" + here_ + "/missing\". No such file or directory");
}

TEST_F(FileStreamTest, FileLockedByAnotherOpenIsRefusedUntilReleased) {
  folder_.Write("held", "content");
  const int holder = ::open("held", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  const auto open_before = OpenDescriptors();
  EXPECT_EQ(ErrorText([] { DigestOfFile("held"); }),
            "Cannot open file \"" + here_ + "/held\". Resource temporarily unavailable");
  EXPECT_EQ(OpenDescriptors(), open_before) << "the refused file was left open";
  ::close(holder);
  EXPECT_EQ(ErrorText([] { DigestOfFile("held"); }), "<no error>");
}

TEST_F(FileStreamTest, HoldsTheLockWhileOpenAndDropsItWhenClosed) {
  const std::string file = folder_.Write("data", "content");
  {
    FileStream stream(file);
    EXPECT_FALSE(CanLock(file));
  }
  EXPECT_TRUE(CanLock(file));
}

TEST_F(FileStreamTest, RefusesADirectoryAndAFifoWithoutBlocking) {
  fs::create_directory("sub");
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  const auto open_before = OpenDescriptors();

  EXPECT_EQ(ErrorText([] { DigestOfFile("sub"); }),
            "Cannot open file \"" + here_ + "/sub\". Is a directory");

  // A FIFO with no writer: a blocking open would wait for one for ever.
  auto fifo =
      std::async(std::launch::async, [] { return ErrorText([] { DigestOfFile("pipe"); }); });
  if (fifo.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
    const int writer = ::open("pipe", O_WRONLY | O_NONBLOCK);  // lets the blocked open return
    fifo.wait();
    ::close(writer);
    FAIL() << "opening a FIFO blocked";
  }
  const std::string prefix = "Cannot open file \"" + here_ + "/pipe\". ";
  EXPECT_EQ(fifo.get().substr(0, prefix.size()), prefix);
  EXPECT_EQ(OpenDescriptors(), open_before) << "a refused file was left open";
}

TEST_F(FileStreamTest, AFailingReadRaisesTheReadError) {
  folder_.Write("data", "content");
  const int write_only = ::open("data", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(write_only, 0);
  FileStream stream("data", write_only);
  EXPECT_EQ(ErrorText([&] { DigestOfStream(stream); }),
            "Cannot read file \"" + here_ + "/data\". Bad file descriptor");
}

}  // namespace
}  // namespace dupfind
