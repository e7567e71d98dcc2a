// The delete command on file systems mounted for the test: a FUSE view of a
// folder (bindfs) and an overlay. Each test is skipped, saying why, where
// the machine cannot mount them.

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "digest/file_stream.h"
#include "digest/md5.h"
#include "search/delete_command.h"
#include "search/search_command.h"
#include "tests/search/form_fixture.h"

namespace dupfind::test {
namespace {

namespace fs = std::filesystem;

// Runs `command` through the shell, quietly; whether it ended well.
bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class MountTest : public FormTest {
 protected:
  void TearDown() override {
    for (auto mount = mounts_.rbegin(); mount != mounts_.rend(); ++mount)
      ::umount2(mount->c_str(), MNT_DETACH);
    FormTest::TearDown();
  }

  // Mounts by `command`, whose last word is the mount point; false when it fails.
  bool Mount(const std::string& command, const std::string& point) {
    fs::create_directories(point);
    if (!Shell(command + " " + point)) return false;
    mounts_.push_back(point);
    return true;
  }

  // Searches `folder` and selects the row of `path`.
  void SearchAndSelect(const std::string& folder, const std::string& path) {
    form.SetFolderText(folder);
    SearchDuplicates();
    for (int i = 0; i < form.ListBox7().Count(); ++i) {
      if (form.ListBox8().Get(i) + form.ListBox7().Get(i) == path) form.ListBox7().SetItemIndex(i);
    }
    ASSERT_NE(form.ListBox7().ItemIndex(), -1) << path << " was not found";
  }

  TempDir tree;
  const std::string dir = tree.folder();
  Strings mounts_;
};

class FuseTest : public MountTest {
 protected:
  // The names in `folder`, but for FUSE's own for a file removed while its
  // last close is still on its way to the file system, which it then removes.
  static Strings Names(const std::string& folder) {
    Strings names = Listing(folder);
    std::erase_if(names, [](const std::string& name) { return name.starts_with(".fuse_hidden"); });
    std::sort(names.begin(), names.end());
    return names;
  }

  void SetUp() override {
    MountTest::SetUp();
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
      GTEST_SKIP() << "no FUSE here: /dev/fuse cannot be opened";
    if (!Shell("command -v bindfs")) GTEST_SKIP() << "bindfs (the Debian package) is not installed";
    fs::create_directories(dir + "src");
    if (!Mount("bindfs " + dir + "src", dir + "view")) GTEST_SKIP() << "bindfs cannot mount here";
  }
};

// bindfs refuses rename flags, as most FUSE file systems do.
TEST_F(FuseTest, DeletesACopyThroughAFuseView) {
  tree.File("src/x", "same");
  tree.File("src/y", "same");
  SearchAndSelect(dir + "view", dir + "view/x");
  DeleteSelected();
  EXPECT_EQ(Names(dir + "src"), Strings{"y"});
  EXPECT_EQ(Rows(form.ListBox7()), (Strings{"y", "---"}));
}

// A folder and a FUSE view of it give one file under two devices, which the
// search shows as two copies: deleting either would lose both, unless
// another copy stands.
TEST_F(FuseTest, SameFileSeenThroughTwoMountsIsKeptUnlessAnotherCopyStands) {
  tree.File("src/f", "same");
  for (const auto& [deleted, other] :
       {std::pair{"src/f", "view/f"}, std::pair{"view/f", "src/f"}}) {
    SearchAndSelect(dir, dir + deleted);
    EXPECT_EQ(ErrorText(DeleteSelected),
              "File \"" + dir + deleted + "\" is the same file as \"" + dir + other + "\"");
    EXPECT_EQ(Names(dir + "src"), Strings{"f"});
    EXPECT_EQ(Rows(form.ListBox7()).size(), 3u);
  }
  // The same file is met first, and goes with it; the copy after it stands.
  tree.File("src/h", "other");
  tree.File("src/k", "other");
  ClearLists(form);
  for (const char* path : {"src/h", "view/h", "src/k"}) {
    FileStatus status;
    ASSERT_TRUE(StatusAt(AT_FDCWD, (dir + path).c_str(), true, status));
    const fs::path file(dir + path);
    form.ListBox7().Add(file.filename());
    form.ListBox8().Add(file.parent_path().string() + "/");
    form.ListBox9().Add(DigestToText(DigestOfFile(dir + path)));
    form.result_files.push_back(form.recorded_files.Keep(status));
  }
  form.ListBox7().SetItemIndex(0);
  DeleteSelected();
  EXPECT_EQ(Names(dir + "src"), (Strings{"f", "k"}));
}

// Moving a file of an overlay's lower layer copies it up first: a small one
// goes, with its new birth time; one the upper layer has no room for is kept
// with the reason.
TEST_F(MountTest, OverlayDeletesWhatFitsItsUpperLayerAndSaysWhyNotTheRest) {
  const std::string big(2 << 20, 'b');
  for (const char* name : {"lower/big1", "lower/big2"})
    tree.File(name, big);
  for (const char* name : {"lower/small1", "lower/small2"})
    tree.File(name, "small");
  if (!Mount("mount -t tmpfs -o size=1m tmpfs", dir + "upper")) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  fs::create_directories(dir + "upper/data");
  fs::create_directories(dir + "upper/work");
  if (!Mount("mount -t overlay overlay -o lowerdir=" + dir + "lower,upperdir=" + dir +
                 "upper/data,workdir=" + dir + "upper/work",
             dir + "merged")) {
    GTEST_SKIP() << "no overlay can be mounted here";
  }
  SearchAndSelect(dir + "merged", dir + "merged/small1");
  DeleteSelected();
  EXPECT_FALSE(Exists(dir + "merged/small1"));
  EXPECT_TRUE(Exists(dir + "lower/small1"));

  SearchAndSelect(dir + "merged", dir + "merged/big1");
  EXPECT_EQ(ErrorText(DeleteSelected),
            "Cannot delete file \"" + dir +
                "merged/big1\". To be checked it must first be moved aside, and on this overlay "
                "that copies it whole into the upper layer, which has no room for it (No space "
                "left on device)");
  EXPECT_EQ(Listing(dir + "merged").size(), 3u);
  EXPECT_TRUE(Exists(dir + "merged/big1"));
}

}  // namespace
}  // namespace dupfind::test
