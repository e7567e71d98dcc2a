#include "search/pseudo_file_system.h"

#include <fcntl.h>
#include <sys/mount.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "search/scan.h"
#include "tests/search/form_fixture.h"

namespace dupfind::test {
namespace {

namespace fs = std::filesystem;

class PseudoFileSystemTest : public FormTest {
 protected:
  void TearDown() override {
    for (const std::string& point : mounts_)
      ::umount2(point.c_str(), MNT_DETACH);
    FormTest::TearDown();
  }

  bool Mount(const char* type, const std::string& point) {
    fs::create_directories(point);
    if (::mount(type, point.c_str(), type, 0, nullptr) != 0) return false;
    mounts_.push_back(point);
    return true;
  }

  Strings Scanned(const std::string& folder) {
    ClearLists(form);
    ScanFolder(folder);
    return Rows(form.ListBox1());
  }

  TempDir tree;
  const std::string dir = tree.folder();
  Strings mounts_;
};

// Kernel files change as they are read: a link into them, to a folder or to
// a file, is passed over, while a folder there that the user names is
// searched as ever.
TEST_F(PseudoFileSystemTest, LinksDoNotLeadTheWalkIntoProcButANamedFolderThereIsWalked) {
  const std::string kernel = "/proc/sys/kernel/random/";
  tree.File("file", "content");
  tree.Link("random", kernel);
  tree.Link("boot_id", kernel + "boot_id");
  EXPECT_EQ(Scanned(dir), Strings{"file"});

  const Strings rows = Scanned(kernel);
  EXPECT_NE(std::find(rows.begin(), rows.end(), "boot_id"), rows.end());
  const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_FALSE(StepsIntoPseudoFileSystem(proc, proc, "sys"));  // a walk begun there goes on
  ::close(proc);
}

// As wine's "z:" does: a link to a folder of an ordinary file system, below
// which a pseudo file system is mounted.
TEST_F(PseudoFileSystemTest, PseudoFileSystemsBelowALinkAreNotEntered) {
  tree.File("root/file", "content");
  if (!Mount("proc", dir + "root/proc")) GTEST_SKIP() << "proc cannot be mounted here";
  fs::create_directory(dir + "home");
  tree.Link("home/z", dir + "root");
  EXPECT_EQ(Scanned(dir + "home"), Strings{"file"});
}

// devtmpfs tells the system it is a tmpfs.
TEST_F(PseudoFileSystemTest, DevtmpfsIsToldFromTmpfs) {
  if (!Mount("devtmpfs", dir + "dev") || !Mount("tmpfs", dir + "tmp")) {
    GTEST_SKIP() << "devtmpfs and tmpfs cannot be mounted here";
  }
  const int root = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_TRUE(StepsIntoPseudoFileSystem(root, root, "dev"));
  EXPECT_FALSE(StepsIntoPseudoFileSystem(root, root, "tmp"));
  ::close(root);
}

}  // namespace
}  // namespace dupfind::test
