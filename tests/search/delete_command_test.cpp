#include "search/delete_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "digest/file_stream.h"
#include "digest/md5.h"
#include "search/search_command.h"
#include "tests/search/form_fixture.h"
#include "tests/support/syscall_hooks.h"

namespace dupfind::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Results set up by hand in Form1, for files of a temporary folder.
class DeleteCommandTest : public FormTest {
 protected:
  // Adds the result row of `folder` + `name` with the file's present digest
  // and identity, as a search would.
  void AddRow(const std::string& folder, const std::string& name) {
    FileStatus status;
    ASSERT_TRUE(StatusAt(AT_FDCWD, (folder + name).c_str(), true, status));
    form.ListBox7().Add(name);
    form.ListBox8().Add(folder);
    form.ListBox9().Add(DigestToText(DigestOfFile(folder + name)));
    form.result_files.push_back(status);
  }

  void AddSeparator() {
    for (TextList* list : {&form.ListBox7(), &form.ListBox8(), &form.ListBox9()})
      list->Add("---");
    form.result_files.push_back({});
  }

  void Select(int position) { form.ListBox7().SetItemIndex(position); }

  Strings Names() { return Rows(form.ListBox7()); }

  void ExpectEqualCounts() {
    EXPECT_EQ(form.ListBox8().Count(), form.ListBox7().Count());
    EXPECT_EQ(form.ListBox9().Count(), form.ListBox7().Count());
  }

  // Runs the command, which must fail with `message` and leave every row.
  void ExpectRefused(const std::string& message) {
    const Strings names = Names();
    EXPECT_EQ(ErrorText(DeleteSelected), message);
    EXPECT_EQ(Names(), names);
    ExpectEqualCounts();
  }

  TempDir tree;
  const std::string dir = tree.folder();
};

// Nothing is selected at first, nor after a deletion.
TEST_F(DeleteCommandTest, DeletesOneCopyKeepsTheOtherAndThenHasNothingSelected) {
  tree.File("a.txt", "same");
  tree.File("b.txt", "same");
  tree.File("c.txt", "unique");
  form.SetFolderText(dir);
  SearchDuplicates();
  ASSERT_EQ(Names().size(), 3u);
  ExpectRefused("List index out of bounds (-1)");
  EXPECT_EQ(ReadFile(dir + "a.txt"), "same");
  Select(Names()[0] == "a.txt" ? 0 : 1);

  DeleteSelected();

  EXPECT_FALSE(Exists(dir + "a.txt"));
  EXPECT_EQ(ReadFile(dir + "b.txt"), "same");
  EXPECT_TRUE(Exists(dir + "c.txt"));
  EXPECT_EQ(Names(), (Strings{"b.txt", "---"}));
  EXPECT_EQ(form.ListBox8().Get(1), "---");
  ExpectEqualCounts();
  EXPECT_EQ(form.ListBox7().ItemIndex(), -1);
  ExpectRefused("List index out of bounds (-1)");
  EXPECT_EQ(ReadFile(dir + "b.txt"), "same");
}

TEST_F(DeleteCommandTest, DeletesReadOnlyAndOddlyDatedFiles) {
  const std::string names[] = {"read-only", "dated-1970", "dated-2200"};
  for (const std::string& name : names) {
    tree.File(name, name);
    AddRow(dir, name);
  }
  ASSERT_EQ(::chmod((dir + "read-only").c_str(), 0444), 0);
  const struct timespec epoch[2] = {{0, 0}, {0, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "dated-1970").c_str(), epoch, 0), 0);
  const struct timespec far[2] = {{7258118400, 0}, {7258118400, 0}};  // 2200-01-01
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "dated-2200").c_str(), far, 0), 0);

  for (const std::string& name : names) {
    Select(0);
    DeleteSelected();
    EXPECT_FALSE(Exists(dir + name)) << name;
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
  const std::string error = ErrorText(DeleteSelected);
  const std::string prefix = "Cannot delete file \"/proc/version\". ";
  EXPECT_TRUE(error == prefix + std::strerror(EPERM) || error == prefix + std::strerror(EACCES))
      << error;
  EXPECT_EQ(Names(), Strings{"version"});
  EXPECT_EQ(form.ListBox8().Get(0), "/proc/");
  ExpectEqualCounts();
}

TEST_F(DeleteCommandTest, RowOfAFileNoLongerThereGoesSilently) {
  for (const char* name : {"removed", "now-a-folder", "sub/below-a-file"})
    tree.File(name, name);
  AddRow(dir, "removed");
  AddRow(dir, "now-a-folder");
  AddRow(dir + "sub/", "below-a-file");
  fs::remove(dir + "removed");
  fs::remove(dir + "now-a-folder");
  fs::create_directory(dir + "now-a-folder");
  // The row's folder is now a plain file, so the name beneath it is gone.
  fs::rename(dir + "sub", dir + "old-sub");
  tree.File("sub", "not a folder");

  for (int i = 0; i < 3; ++i) {
    Select(0);
    EXPECT_NO_THROW(DeleteSelected());
  }
  EXPECT_TRUE(Names().empty());
  ExpectEqualCounts();
  EXPECT_TRUE(fs::is_directory(dir + "now-a-folder"));
  EXPECT_TRUE(Exists(dir + "old-sub/below-a-file"));
  EXPECT_TRUE(Exists(dir + "sub"));
}

TEST_F(DeleteCommandTest, SeparatorRowTouchesNoFileInTheCurrentFolder) {
  tree.File("---/---", "x");
  tree.File("------", "x");
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  AddSeparator();
  Select(0);
  EXPECT_NO_THROW(DeleteSelected());
  fs::current_path(previous);

  EXPECT_TRUE(Names().empty());
  ExpectEqualCounts();
  EXPECT_TRUE(Exists(dir + "---/---"));
  EXPECT_TRUE(Exists(dir + "------"));
}

TEST_F(DeleteCommandTest, LinkRowRemovesTheLinkAndKeepsItsTarget) {
  tree.File("target", "content");
  tree.Link("link", dir + "target");
  AddRow(dir, "link");
  Select(0);
  DeleteSelected();
  EXPECT_FALSE(Exists(dir + "link"));
  EXPECT_EQ(ReadFile(dir + "target"), "content");
  EXPECT_TRUE(Names().empty());

  // A link whose file has gone since the search: its row goes, the link stays.
  tree.Link("link", dir + "target");
  AddRow(dir, "link");
  fs::remove(dir + "target");
  Select(0);
  DeleteSelected();
  EXPECT_TRUE(Exists(dir + "link"));
  EXPECT_TRUE(Names().empty());
}

TEST_F(DeleteCommandTest, FileChangedSinceTheSearchIsKept) {
  tree.File("a", "alpha");
  AddRow(dir, "a");
  AddSeparator();
  tree.File("a", "bravo");  // same size, other content
  Select(0);
  ExpectRefused("File \"" + dir + "a\" has changed since the search");
  EXPECT_EQ(ReadFile(dir + "a"), "bravo");
}

TEST_F(DeleteCommandTest, FileLockedElsewhereIsKeptWithTheOpenError) {
  const std::string file = tree.File("a", "alpha");
  AddRow(dir, "a");
  FileLock lock(file);
  Select(0);
  ExpectRefused(LockedError(file));
  EXPECT_EQ(ReadFile(file), "alpha");
}

// The row's path comes to name the other copy, by a move over it or through a
// folder link: that copy is not the file the row was read from.
TEST_F(DeleteCommandTest, PathThatNowLeadsToAnotherCopyIsKept) {
  tree.File("A/x", "same");
  tree.File("B/x", "same");
  tree.File("a", "same");
  tree.File("b", "same");
  form.SetFolderText(dir);
  SearchDuplicates();
  ASSERT_EQ(Names().size(), 5u);
  fs::rename(dir + "b", dir + "a");
  fs::rename(dir + "A", dir + "A.old");
  tree.Link("A", dir + "B");
  for (const std::string& path : {dir + "a", dir + "A/x"}) {
    const Strings folders = Rows(form.ListBox8());
    for (int i = 0; i < form.ListBox7().Count(); ++i) {
      if (folders[i] + form.ListBox7().Get(i) == path) Select(i);
    }
    ExpectRefused("File \"" + path + "\" has changed since the search");
  }
  for (const char* left : {"a", "A.old/x", "B/x"})
    EXPECT_EQ(ReadFile(dir + left), "same") << left;
}

// Another file put at the row's path just before the command unlinks, or just
// before it moves the entry aside to check it: that file is never deleted.
TEST_F(DeleteCommandTest, FilePutInPlaceDuringTheCommandIsNeverDeleted) {
  for (const Call moment : {Call::kUnlink, Call::kRename}) {
    tree.File("a", "same");
    AddRow(dir, "a");
    tree.File("other", "same");
    bool swapped = false;
    {
      ScopedCallHook hook([&](Call call, int, const char*) {
        if (call != moment || swapped) return;
        swapped = true;
        fs::rename(dir + "other", dir + "a");
      });
      Select(0);
      if (moment == Call::kUnlink) {
        DeleteSelected();  // the file checked goes; the row with it
        EXPECT_TRUE(Names().empty());
      } else {
        ExpectRefused("File \"" + dir + "a\" has changed since the search");
        ClearLists(form);
      }
    }
    EXPECT_TRUE(swapped);
    EXPECT_EQ(ReadFile(dir + "a"), "same") << "the file put in place was deleted";
    EXPECT_EQ(Listing(tree.path()), Strings{"a"});
    fs::remove(dir + "a");
  }
}

// When the entry moved aside to be checked fails the check and its name has
// been taken meanwhile, it stays under the private name and the error says
// where: nothing is lost.
TEST_F(DeleteCommandTest, FileThatCannotGoBackToItsNameIsKeptAndNamed) {
  tree.File("a", "same");
  AddRow(dir, "a");
  ScopedCallHook hook([&](Call call, int, const char* path) {
    if (call != Call::kOpen || std::string(path).find("deleting") == std::string::npos) return;
    std::ofstream(dir + path, std::ios::in | std::ios::out) << 'S';  // fails the check
    tree.File("a", "newcomer");
  });
  Select(0);
  const std::string error = ErrorText(DeleteSelected);
  const std::string kept_as = "It is kept as \"";
  const std::size_t from = error.find(kept_as) + kept_as.size();
  const std::string kept = error.substr(from, error.rfind('"') - from);
  EXPECT_EQ(error, "Cannot restore file \"" + dir + "a\". " + kept_as + kept + "\": File exists");
  EXPECT_EQ(kept.substr(0, dir.size()), dir);
  EXPECT_EQ(ReadFile(kept), "Same");
  EXPECT_EQ(ReadFile(dir + "a"), "newcomer");
  EXPECT_EQ(Names(), Strings{"a"});
}

TEST_F(DeleteCommandTest, FileFarBelowThePathLimitIsDeleted) {
  const std::string deepest = tree.Chain("c", 500, "same");
  ASSERT_GT(deepest.size(), 4096u);
  form.SetFolderText(dir);
  SearchDuplicates();
  ASSERT_EQ(Names().size(), 502u);
  const Strings folders = Rows(form.ListBox8());
  Select(static_cast<int>(std::find(folders.begin(), folders.end(), deepest) - folders.begin()));
  DeleteSelected();
  EXPECT_EQ(Names().size(), 501u);
  SearchDuplicates();
  EXPECT_EQ(Names().size(), 501u);
}

}  // namespace
}  // namespace dupfind::test
