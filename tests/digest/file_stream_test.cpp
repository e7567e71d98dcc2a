#include "digest/file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <system_error>

#include "tests/support/temp_dir.h"

namespace dupfind::test {
namespace {

namespace fs = std::filesystem;

// Whether another open file description can take the exclusive lock.
bool CanLock(const std::string& path) {
  try {
    FileLock lock(path);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// Runs in a fresh current folder, so that relative paths name files of the test.
class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::current_path(here_.path()); }
  void TearDown() override { fs::current_path(saved_); }

  const fs::path saved_ = fs::current_path();
  TempDir here_;  // the current folder, named as the system reports it
};

// The path is normalised as text: ".." after a link undoes the link, not the
// folder it points to.
TEST_F(FileStreamTest, MissingFileIsNamedByItsNormalisedAbsolutePath) {
  EXPECT_EQ(ErrorText([] { DigestOfFile("a/./b/../c"); }),
            "Cannot open file \"" + here_.folder() + "a/c\". No such file or directory");
  fs::create_directories("deep/real");
  fs::create_directory_symlink("deep/real", "link");
  EXPECT_EQ(ErrorText([] { DigestOfFile("link/../missing"); }),
            "Cannot open file \"" + here_.folder() + "missing\". No such file or directory");
}

TEST_F(FileStreamTest, FileLockedByAnotherOpenIsRefusedUntilReleased) {
  const std::string file = here_.File("held", "content");
  {
    FileLock lock(file);
    const auto open_before = OpenDescriptors();
    EXPECT_EQ(ErrorText([] { DigestOfFile("held"); }), LockedError(file));
    EXPECT_EQ(OpenDescriptors(), open_before) << "the refused file was left open";
  }
  EXPECT_EQ(ErrorText([] { DigestOfFile("held"); }), "<no error>");
}

TEST_F(FileStreamTest, HoldsTheLockWhileOpenAndDropsItWhenClosed) {
  const std::string file = here_.File("data", "content");
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
            "Cannot open file \"" + here_.folder() + "sub\". Is a directory");

  // A FIFO with no writer: a blocking open would wait for one for ever.
  auto fifo =
      std::async(std::launch::async, [] { return ErrorText([] { DigestOfFile("pipe"); }); });
  if (fifo.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
    const int writer = ::open("pipe", O_WRONLY | O_NONBLOCK);  // lets the blocked open return
    fifo.wait();
    ::close(writer);
    FAIL() << "opening a FIFO blocked";
  }
  const std::string prefix = "Cannot open file \"" + here_.folder() + "pipe\". ";
  EXPECT_EQ(fifo.get().substr(0, prefix.size()), prefix);
  EXPECT_EQ(OpenDescriptors(), open_before) << "a refused file was left open";
}

TEST_F(FileStreamTest, AFailingReadRaisesTheReadError) {
  here_.File("data", "content");
  OpenFile file{UniqueFd(::open("data", O_WRONLY | O_CLOEXEC)), {}};
  ASSERT_TRUE(file.fd && StatusOf(file.fd.get(), file.status));
  FileStream stream("data", std::move(file));
  EXPECT_EQ(ErrorText([&] { DigestOfStream(stream); }),
            "Cannot read file \"" + here_.folder() + "data\". Bad file descriptor");
}

// Read as it was when opened, or not at all: a file that ends early, grows,
// or is rewritten while it is read gives no digest of neither content.
TEST_F(FileStreamTest, FileChangedWhileReadRaisesTheChangedError) {
  const std::string changed =
      "Cannot read file \"" + here_.folder() + "data\". The file changed while it was read";
  const std::function<void()> changes[] = {
      [] { fs::resize_file("data", 5000); },
      [] { std::ofstream("data", std::ios::app) << std::string(5000, 'y'); },
      [] { std::fstream("data", std::ios::in | std::ios::out) << 'z'; },  // same size
  };
  for (const auto& change : changes) {
    here_.File("data", std::string(10000, 'x'));
    const struct timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, "data", long_ago, 0), 0);  // any write moves it
    FileStream stream("data");
    char buffer[4096];
    std::size_t total = stream.Read(buffer, sizeof buffer);
    change();
    EXPECT_EQ(ErrorText([&] {
                for (std::size_t got; (got = stream.Read(buffer, sizeof buffer)) != 0;)
                  total += got;
              }),
              changed);
    EXPECT_LE(total, 10000u) << "read past the size it had when opened";
  }
}

// Files of /proc report no size: they are read to their end, but one that
// never ends is cut off with the same error, not read for ever.
TEST_F(FileStreamTest, FilesThatReportNoSizeAreReadToTheirEndWithinABound) {
  std::ifstream version("/proc/version", std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(version), {}};
  ASSERT_FALSE(content.empty());
  MD5Context context;
  MD5Init(context);
  MD5Update(context, content.data(), content.size());
  Digest expected;
  MD5Final(expected, context);
  EXPECT_EQ(DigestOfFile("/proc/version"), expected);

  EXPECT_EQ(ErrorText([] { DigestOfFile("/proc/self/pagemap"); }),
            "Cannot read file \"/proc/self/pagemap\". The file changed while it was read");
}

}  // namespace
}  // namespace dupfind::test
