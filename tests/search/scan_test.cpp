#include "search/scan.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/search/form_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/syscall_hooks.h"

namespace dupfind::test {
namespace {

using Row = std::tuple<std::string, std::string, std::string>;  // name, folder, digest text

// The first of `names` that the listing of `folder` returns.
std::string FirstListed(const std::string& folder, const Strings& names) {
  for (const std::string& entry : Listing(folder)) {
    if (std::find(names.begin(), names.end(), entry) != names.end()) return entry;
  }
  return "";
}

class ScanTest : public FormTest {
 protected:
  std::vector<Row> SortedRows() {
    std::vector<Row> rows;
    for (int i = 0; i < form.ListBox1().Count(); ++i)
      rows.emplace_back(form.ListBox1().Get(i), form.ListBox2().Get(i), form.ListBox3().Get(i));
    std::sort(rows.begin(), rows.end());
    return rows;
  }
};

TEST_F(ScanTest, SubfolderRowsComeWhereTheListingMeetsTheSubfolder) {
  TempDir tree;
  // The file system keeps its own order (by hash, or the newest first, as
  // tmpfs does): a file made before S and files after it until S has one on
  // each side.
  tree.File("f", "f");
  tree.File("S/z", "z");
  for (int n = 0;
       n < 1 || Listing(tree.path()).front() == "S" || Listing(tree.path()).back() == "S"; ++n) {
    tree.File("f" + std::to_string(n), std::to_string(n));
  }
  Strings names, folders;
  for (const std::string& entry : Listing(tree.path())) {
    names.push_back(entry == "S" ? "z" : entry);
    folders.push_back(tree.folder() + (entry == "S" ? "S/" : ""));
  }
  ScanFolder(tree.path());
  EXPECT_EQ(Rows(form.ListBox1()), names);
  EXPECT_EQ(Rows(form.ListBox2()), folders);
  EXPECT_EQ(form.ListBox3().Count(), form.ListBox1().Count());
}

TEST_F(ScanTest, FolderColumnIsTheFolderAsTypedEndingInOneSlash) {
  TempDir tree;
  tree.File("a", "abc");
  tree.File("sub/deeper/b", "");
  ScanFolder(tree.path());
  const std::vector<Row> rows = SortedRows();
  EXPECT_EQ(rows, (std::vector<Row>{{"a", tree.folder(), kAbcDigest},
                                    {"b", tree.folder() + "sub/deeper/", kEmptyDigest}}));
  ClearLists(form);
  ScanFolder(tree.folder());
  EXPECT_EQ(SortedRows(), rows);

  ClearLists(form);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(tree.path());
  ScanFolder("sub");
  EXPECT_EQ(Rows(form.ListBox2()), Strings{"sub/deeper/"});
  ClearLists(form);
  ScanFolder("./sub/");
  std::filesystem::current_path(previous);
  EXPECT_EQ(Rows(form.ListBox2()), Strings{"./sub/deeper/"});
}

TEST_F(ScanTest, HiddenAndOddlyNamedFilesAreRecordedAsTheyStand) {
  TempDir tree;
  tree.File(".hidden", "abc");
  tree.File(".dot/two\nlines", "");
  tree.File("na\xefve \xff", "a");  // not UTF-8
  ScanFolder(tree.path());
  EXPECT_EQ(SortedRows(),
            (std::vector<Row>{{".hidden", tree.folder(), kAbcDigest},
                              {"na\xefve \xff", tree.folder(), kADigest},
                              {"two\nlines", tree.folder() + ".dot/", kEmptyDigest}}));
}

TEST_F(ScanTest, FoldersWithoutFilesGiveNoRowsAndNoError) {
  TempDir tree;
  std::filesystem::create_directories(tree.folder() + "empty/emptier");
  const std::string file = tree.File("plain", "abc");
  form.SetStatusText("before");
  // Were "" taken for "/", the first file digested would stop it here.
  form.on_process_messages = [] { throw std::runtime_error("a file was digested"); };
  for (const std::string& folder :
       {tree.folder() + "empty", tree.folder() + "missing", file, std::string()}) {
    ScanFolder(folder);
  }
  EXPECT_EQ(form.ListBox1().Count() + form.ListBox2().Count() + form.ListBox3().Count(), 0);
  EXPECT_EQ(form.StatusText(), "before");
}

// A scan that walks a folder again never ends here (ctest's timeout catches it).
TEST_F(ScanTest, LinkLoopsEndAndEveryFileIsRecordedOnce) {
  TempDir tree;
  tree.File("x", "a");
  tree.File("S/y", "");
  tree.Link("S/up", "..");
  tree.Link("S/T", tree.path());
  tree.Link("self", ".");
  ScanFolder(tree.path());
  EXPECT_EQ(SortedRows(), (std::vector<Row>{{"x", tree.folder(), kADigest},
                                            {"y", tree.folder() + "S/", kEmptyDigest}}));
}

TEST_F(ScanTest, FoldersAndFilesMetTwiceGiveOneRowAndOtherEntriesNone) {
  TempDir tree, elsewhere;
  tree.File("real/f", "abc");
  tree.Link("l1", "real");
  tree.Link("l2", tree.folder() + "real");
  const std::string g = tree.File("g", "");
  ASSERT_EQ(::link(g.c_str(), (tree.folder() + "hard").c_str()), 0);
  tree.Link("sym", "g");
  tree.Link("abs", g);
  elsewhere.File("o", "a");
  tree.Link("out", elsewhere.path());  // outside the tree: walked through the link
  ASSERT_EQ(::mkfifo((tree.folder() + "pipe").c_str(), 0600), 0);  // never opened: would block
  tree.Link("dangling", "nowhere");
  ScanFolder(tree.path());

  const std::string folder = FirstListed(tree.path(), {"real", "l1", "l2"});
  const std::string file = FirstListed(tree.path(), {"g", "hard", "sym", "abs"});
  std::vector<Row> expected{{"f", tree.folder() + folder + "/", kAbcDigest},
                            {file, tree.folder(), kEmptyDigest},
                            {"o", tree.folder() + "out/", kADigest}};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(SortedRows(), expected);
}

TEST_F(ScanTest, EachFileIsShownInTheStatusBeforeEventsRunOnce) {
  TempDir tree;
  tree.File("a", "a");
  tree.File("b", "b");
  tree.File("sub/c", "c");
  Strings statuses;
  form.on_process_messages = [&] {
    EXPECT_EQ(form.ListBox3().Count(), static_cast<int>(statuses.size()) + 1);  // row complete
    statuses.push_back(form.StatusText());
  };
  ScanFolder(tree.path());
  ASSERT_EQ(statuses.size(), 3u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(statuses[i], form.ListBox2().Get(i) + form.ListBox1().Get(i));
}

TEST_F(ScanTest, FileThatCannotBeOpenedEndsTheScanWithoutItsDigest) {
  TempDir tree;
  for (const char* name : {"a", "b", "c"})
    tree.File(name, name);
  const Strings listed = Listing(tree.path());
  form.SetStatusText("before");
  {  // the first file met: nothing digested, the status stays
    FileLock lock(tree.folder() + listed[0]);
    EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }), LockedError(tree.folder() + listed[0]));
    EXPECT_EQ(Rows(form.ListBox1()), (Strings{listed[0]}));
    EXPECT_EQ(Rows(form.ListBox2()), (Strings{tree.folder()}));
    EXPECT_EQ(form.ListBox3().Count(), 0);
    EXPECT_EQ(form.StatusText(), "before");
  }
  ClearLists(form);
  FileLock lock(tree.folder() + listed[2]);  // the last one
  EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }), LockedError(tree.folder() + listed[2]));
  EXPECT_EQ(Rows(form.ListBox1()), listed);
  EXPECT_EQ(Rows(form.ListBox2()), Strings(3, tree.folder()));
  EXPECT_EQ(form.ListBox3().Count(), 2);
  EXPECT_EQ(form.StatusText(), tree.folder() + listed[1]);
}

TEST_F(ScanTest, ListingsOpenOnThePathAreClosedWhenTheErrorPasses) {
  TempDir tree;
  const std::string locked = tree.File("d1/d2/d3/locked", "x");
  FileLock lock(locked);
  const auto before = OpenDescriptors();
  EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }), LockedError(locked));
  EXPECT_EQ(OpenDescriptors(), before);
}

// Between the listing and their open, three entries become a hard link and a
// symbolic link to a file given a row already, and a pipe: the rows are the
// files that were opened.
TEST_F(ScanTest, EntriesReplacedBeforeTheirOpenGiveTheFilesThatWereOpened) {
  TempDir tree;
  for (const char* name : {"a", "b", "c", "d"})
    tree.File(name, "same");
  const Strings listed = Listing(tree.path());
  const std::string first = tree.folder() + listed[0];
  const std::function<void(const std::string&)> replace[] = {
      [&](const std::string& path) { ASSERT_EQ(::link(first.c_str(), path.c_str()), 0); },
      [&](const std::string& path) { std::filesystem::create_symlink(first, path); },
      [&](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
  };
  std::mutex mutex;  // files may be opened on several threads
  std::set<std::string> replaced;
  ScopedCallHook hook([&](Call call, int, const char* path) {
    const std::string name = std::filesystem::path(path).filename();
    const auto it = std::find(listed.begin() + 1, listed.end(), name);
    const std::lock_guard<std::mutex> guard(mutex);
    if (call != Call::kOpen || it == listed.end() || !replaced.insert(name).second) return;
    std::filesystem::remove(tree.folder() + name);
    replace[it - listed.begin() - 1](tree.folder() + name);
  });
  ScanFolder(tree.path());
  EXPECT_EQ(replaced.size(), 3u);
  EXPECT_EQ(Rows(form.ListBox1()), Strings{listed[0]});
  EXPECT_EQ(form.working_files.size(), 1u);
}

// Far more levels than a process may hold descriptors by default, paths
// longer than the system takes at once, and a link down into another deep tree
// whose ".." leads elsewhere: every file is found, and the descriptors open
// (the walks' folders and the files read ahead) do not grow with the depth.
TEST_F(ScanTest, DeepTreesAreWalkedWholeWithFewDescriptorsOpen) {
  TempDir tree, elsewhere;
  const std::string deepest = tree.Chain("c", 1100, "same");
  ASSERT_GT(deepest.size(), 4096u);
  elsewhere.Chain("e", 100, "same");
  std::string level_100 = "c/";
  for (int i = 0; i < 100; ++i)
    level_100 += TempDir::kLevel + std::string("/");
  tree.Link(level_100 + "link", elsewhere.folder() + "e");

  const auto before = OpenDescriptors();
  std::ptrdiff_t most = 0;
  form.on_process_messages = [&] { most = std::max(most, OpenDescriptors() - before); };
  ScanFolder(tree.path());
  EXPECT_EQ(form.ListBox1().Count(), 1101 + 101);
  EXPECT_EQ(form.ListBox3().Count(), 1101 + 101);
  std::string linked_deepest = tree.folder() + level_100 + "link/";
  for (int i = 0; i < 100; ++i)
    linked_deepest += TempDir::kLevel + std::string("/");
  const Strings folders = Rows(form.ListBox2());
  for (const std::string& folder : {deepest, linked_deepest})
    EXPECT_NE(std::find(folders.begin(), folders.end(), folder), folders.end()) << folder.size();
  EXPECT_LT(most, 400);
  EXPECT_EQ(OpenDescriptors(), before);
}

// A folder that may be listed but not searched names files that cannot be
// opened: that is the open error. A folder that cannot be listed at all is
// passed over, as one that is gone.
TEST_F(ScanTest, FolderThatCanBeListedButNotSearchedEndsTheScanWithTheOpenError) {
  TempDir tree;
  tree.File("unlistable/hidden", "x");
  tree.File("plain", "abc");
  const std::string sealed_file = tree.File("sealed/f", "a");
  for (const auto& [folder, mode] : {std::pair{tree.path(), 0755},
                                     {tree.folder() + "unlistable", 0311},
                                     {tree.folder() + "sealed", 0444}}) {
    ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
  }
  const std::string outcome = AsUnprivileged([&] {
    std::string rows;
    std::string error = ErrorText([&] { ScanFolder(tree.folder() + "unlistable"); });
    error += " | " + ErrorText([&] { ScanFolder(tree.path()); });
    for (const std::string& name : Rows(form.ListBox1()))
      rows += " " + name;
    return error + " |" + rows;
  });
  ::chmod((tree.folder() + "sealed").c_str(), 0755);
  ::chmod((tree.folder() + "unlistable").c_str(), 0755);
  // The rows before the error depend on the listing's order; the error does not.
  const std::string error =
      "<no error> | Cannot open file \"" + sealed_file + "\". Permission denied |";
  EXPECT_EQ(outcome.substr(0, error.size()), error);
  EXPECT_EQ(outcome.substr(outcome.size() - 2), " f") << outcome;
}

}  // namespace
}  // namespace dupfind::test
