#include "search/delete_command.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest/error.h"
#include "digest/md5.h"
#include "search/main_form.h"
#include "search/search_command.h"

namespace dupfind {
namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

// Results set up by hand in a PlainForm that Form1 points at, beside a
// temporary folder (its real path, so error texts can be predicted).
class DeleteCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/dupfind-delete-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    char real[PATH_MAX];
    ASSERT_NE(::realpath(pattern.c_str(), real), nullptr);
    dir_ = std::string(real) + "/";
    Form1 = &form_;
  }

  void TearDown() override {
    Form1 = nullptr;
    fs::remove_all(dir_);
  }

  // Adds the result row of `folder` + `name` with the file's present digest.
  void AddRow(const std::string& folder, const std::string& name) {
    form_.ListBox7().Add(name);
    form_.ListBox8().Add(folder);
    form_.ListBox9().Add(DigestToText(DigestOfFile(folder + name)));
  }

  void AddSeparator() {
    form_.ListBox7().Add("---");
    form_.ListBox8().Add("---");
    form_.ListBox9().Add("---");
  }

  void Select(int position) { form_.ListBox7().SetItemIndex(position); }

  const std::vector<std::string>& Names() {
    return static_cast<MemoryList&>(form_.ListBox7()).Rows();
  }

  void ExpectEqualCounts() {
    EXPECT_EQ(form_.ListBox8().Count(), form_.ListBox7().Count());
    EXPECT_EQ(form_.ListBox9().Count(), form_.ListBox7().Count());
  }

  // Runs the command, which must fail with `message` and leave every row.
  void ExpectRefused(const std::string& message) {
    const std::vector<std::string> names = Names();
    try {
      DeleteSelected();
      ADD_FAILURE() << "no error, expected: " << message;
    } catch (const Error& error) {
      EXPECT_EQ(error.what(), message);
    }
    EXPECT_EQ(Names(), names);
    ExpectEqualCounts();
  }

  PlainForm form_;
  std::string dir_;
};

TEST_F(DeleteCommandTest, DeletesOneCopyKeepsTheOtherAndThenHasNothingSelected) {
  WriteFile(dir_ + "a.txt", "same");
  WriteFile(dir_ + "b.txt", "same");
  WriteFile(dir_ + "c.txt", "unique");
  form_.SetFolderText(dir_);
  SearchDuplicates();
  ASSERT_EQ(Names().size(), 3u);
  Select(Names()[0] == "a.txt" ? 0 : 1);

  DeleteSelected();

  EXPECT_FALSE(Exists(dir_ + "a.txt"));
  EXPECT_EQ(ReadFile(dir_ + "b.txt"), "same");
  EXPECT_TRUE(Exists(dir_ + "c.txt"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"b.txt", "---"}));
  EXPECT_EQ(form_.ListBox8().Get(1), "---");
  ExpectEqualCounts();
  EXPECT_EQ(form_.ListBox7().ItemIndex(), -1);
  ExpectRefused("List index out of bounds (-1)");
  EXPECT_EQ(ReadFile(dir_ + "b.txt"), "same");
}

TEST_F(DeleteCommandTest, NothingSelectedFailsAndTouchesNothing) {
  WriteFile(dir_ + "a", "x");
  AddRow(dir_, "a");
  AddSeparator();
  ExpectRefused("List index out of bounds (-1)");
  ExpectRefused("List index out of bounds (-1)");
  EXPECT_TRUE(Exists(dir_ + "a"));
}

TEST_F(DeleteCommandTest, DeletesReadOnlyAndOddlyDatedFiles) {
  const std::string names[] = {"read-only", "dated-1970", "dated-2200"};
  for (const std::string& name : names) {
    WriteFile(dir_ + name, name);
    AddRow(dir_, name);
  }
  ASSERT_EQ(::chmod((dir_ + "read-only").c_str(), 0444), 0);
  const struct timespec epoch[2] = {{0, 0}, {0, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ + "dated-1970").c_str(), epoch, 0), 0);
  const struct timespec far[2] = {{7258118400, 0}, {7258118400, 0}};  // 2200-01-01
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ + "dated-2200").c_str(), far, 0), 0);

  for (const std::string& name : names) {
    Select(0);
    DeleteSelected();
    EXPECT_FALSE(Exists(dir_ + name)) << name;
  }
  EXPECT_TRUE(Names().empty());
  ExpectEqualCounts();
}

// Root may unlink anything on an ordinary file system, so the file that
// cannot go is one of /proc: readable and stable, but unlink fails there
// for every user (EPERM for root, EACCES for others).
TEST_F(DeleteCommandTest, FileThatCannotBeDeletedKeepsItsRowWithTheError) {
  AddRow("/proc/", "version");
  Select(0);
  try {
    DeleteSelected();
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    const std::string prefix = "Cannot delete file \"/proc/version\". ";
    EXPECT_TRUE(error.what() == prefix + std::strerror(EPERM) ||
                error.what() == prefix + std::strerror(EACCES))
        << error.what();
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"version"});
  EXPECT_EQ(form_.ListBox8().Get(0), "/proc/");
  ExpectEqualCounts();
}

TEST_F(DeleteCommandTest, RowOfAFileNoLongerThereGoesSilently) {
  fs::create_directory(dir_ + "sub");
  for (const char* name : {"removed", "now-a-folder", "sub/below-a-file"})
    WriteFile(dir_ + name, name);
  AddRow(dir_, "removed");
  AddRow(dir_, "now-a-folder");
  AddRow(dir_ + "sub/", "below-a-file");
  fs::remove(dir_ + "removed");
  fs::remove(dir_ + "now-a-folder");
  fs::create_directory(dir_ + "now-a-folder");
  // The row's folder is now a plain file, so the name beneath it is gone.
  fs::rename(dir_ + "sub", dir_ + "old-sub");
  WriteFile(dir_ + "sub", "not a folder");

  for (int i = 0; i < 3; ++i) {
    Select(0);
    EXPECT_NO_THROW(DeleteSelected());
  }
  EXPECT_TRUE(Names().empty());
  ExpectEqualCounts();
  EXPECT_TRUE(fs::is_directory(dir_ + "now-a-folder"));
  EXPECT_TRUE(Exists(dir_ + "old-sub/below-a-file"));
  EXPECT_TRUE(Exists(dir_ + "sub"));
}

TEST_F(DeleteCommandTest, SeparatorRowTouchesNoFileInTheCurrentFolder) {
  fs::create_directory(dir_ + "---");
  WriteFile(dir_ + "---/---", "x");
  WriteFile(dir_ + "------", "x");
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  AddSeparator();
  Select(0);
  EXPECT_NO_THROW(DeleteSelected());
  fs::current_path(previous);

  EXPECT_TRUE(Names().empty());
  ExpectEqualCounts();
  EXPECT_TRUE(Exists(dir_ + "---/---"));
  EXPECT_TRUE(Exists(dir_ + "------"));
}

TEST_F(DeleteCommandTest, LinkRowRemovesTheLinkAndKeepsItsTarget) {
  WriteFile(dir_ + "target", "content");
  ASSERT_EQ(::symlink((dir_ + "target").c_str(), (dir_ + "link").c_str()), 0);
  AddRow(dir_, "link");
  Select(0);
  DeleteSelected();
  EXPECT_FALSE(Exists(dir_ + "link"));
  EXPECT_EQ(ReadFile(dir_ + "target"), "content");
  EXPECT_TRUE(Names().empty());

  // A link whose file has gone since the search: its row goes, the link stays.
  ASSERT_EQ(::symlink((dir_ + "target").c_str(), (dir_ + "link").c_str()), 0);
  AddRow(dir_, "link");
  fs::remove(dir_ + "target");
  Select(0);
  DeleteSelected();
  EXPECT_TRUE(Exists(dir_ + "link"));
  EXPECT_TRUE(Names().empty());
}

TEST_F(DeleteCommandTest, FileChangedSinceTheSearchIsKept) {
  WriteFile(dir_ + "a", "alpha");
  AddRow(dir_, "a");
  AddSeparator();
  WriteFile(dir_ + "a", "bravo");  // same size, other content
  Select(0);
  ExpectRefused("File \"" + dir_ + "a\" has changed since the search");
  EXPECT_EQ(ReadFile(dir_ + "a"), "bravo");
}

TEST_F(DeleteCommandTest, FileLockedElsewhereIsKeptWithTheOpenError) {
  WriteFile(dir_ + "a", "alpha");
  AddRow(dir_, "a");
  const int fd = ::open((dir_ + "a").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  Select(0);
  ExpectRefused("Cannot open file \"" + dir_ + "a\". " + std::strerror(EWOULDBLOCK));
  ::close(fd);
  EXPECT_EQ(ReadFile(dir_ + "a"), "alpha");
}

}  // namespace
}  // namespace dupfind
