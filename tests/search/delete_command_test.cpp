#include "search/delete_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
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
    form.result_files.push_back(form.recorded_files.Keep(status));
  }

  void AddSeparator() {
    for (TextList* list : {&form.ListBox7(), &form.ListBox8(), &form.ListBox9()})
      list->Add("---");
    form.result_files.push_back(RecordedFiles::kNone);
  }

  // Rows for `names` in the folder, closed by a separator.
  void AddGroup(const Strings& names) {
    for (const std::string& name : names)
      AddRow(dir, name);
    AddSeparator();
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
// before it moves the entry aside: that file is never deleted. So it is too
// where the file system refuses rename flags, as FUSE ones do: the move aside
// and the move back then take other ways.
TEST_F(DeleteCommandTest, FilePutInPlaceDuringTheCommandIsNeverDeleted) {
  for (const int flags_refused : {0, EINVAL, ENOSYS}) {
    ScopedFailure failure([&](Failable call, const char*) {
      return call == Failable::kRenameWithFlags ? flags_refused : 0;
    });
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
      EXPECT_EQ(Listing(tree.path()), Strings{"a"}) << flags_refused;
      fs::remove(dir + "a");
    }
  }
}

// A file written to between its check and its move aside is put back under
// its name; when that name has been taken meanwhile, or the file system can
// give it back no safe way, it stays under its private name, and the error
// says where: nothing is lost.
TEST_F(DeleteCommandTest, FileWrittenAsItIsMovedAsideIsPutBackOrKeptAndNamed) {
  for (const std::string taken : {"", "newcomer"}) {
    tree.File("a", "same");
    AddRow(dir, "a");
    ScopedCallHook hook([&](Call call, int, const char* path) {
      if (call != Call::kRename) return;
      if (std::string(path) == "a") std::ofstream(dir + "a", std::ios::app) << '+';
      if (!taken.empty() && std::string(path).starts_with(".dupfind")) tree.File("a", taken);
    });
    Select(0);
    if (taken.empty()) {
      ExpectRefused("File \"" + dir + "a\" has changed since the search");
      EXPECT_EQ(ReadFile(dir + "a"), "same+");
      EXPECT_EQ(Listing(tree.path()), Strings{"a"});
      ClearLists(form);
      continue;
    }
    const std::string error = ErrorText(DeleteSelected);
    const std::string kept_as = "It is kept as \"";
    const std::size_t from = error.find(kept_as) + kept_as.size();
    const std::string kept = error.substr(from, error.rfind('"') - from);
    EXPECT_EQ(error, "Cannot restore file \"" + dir + "a\". " + kept_as + kept + "\": File exists");
    EXPECT_EQ(kept.substr(0, dir.size()), dir);
    EXPECT_EQ(ReadFile(kept), "same+");
    EXPECT_EQ(ReadFile(dir + "a"), "newcomer");
    EXPECT_EQ(Names(), Strings{"a"});
  }
}

// Without rename flags a file goes back by a new link (see above); without
// links either (FAT) nothing could give it back its name without a gap, so it
// is kept under its private name. Without any rename nothing is moved.
TEST_F(DeleteCommandTest, WithoutRenameFlagsOrLinksTheFileIsKeptAndNamed) {
  tree.File("a", "same");
  AddRow(dir, "a");
  int rename_refused = 0;
  ScopedFailure failure([&](Failable call, const char*) {
    if (call == Failable::kPlainRename) return rename_refused;
    return call == Failable::kRenameWithFlags ? EINVAL : call == Failable::kLink ? EPERM : 0;
  });
  ScopedCallHook hook([&](Call call, int, const char* path) {
    if (call == Call::kRename && std::string(path) == "a")
      std::ofstream(dir + "a", std::ios::app) << '+';
  });
  Select(0);
  const std::string error = ErrorText(DeleteSelected);
  const std::string kept = dir + Listing(tree.path()).at(0);
  EXPECT_EQ(error, "Cannot restore file \"" + dir + "a\". It is kept as \"" + kept +
                       "\": Operation not permitted");
  fs::rename(kept, dir + "a");

  rename_refused = ENOSYS;
  ClearLists(form);
  AddRow(dir, "a");
  Select(0);
  ExpectRefused("Cannot delete file \"" + dir +
                "a\". It is checked under a private name before it goes, and this file system "
                "cannot rename it (Function not implemented)");
  EXPECT_EQ(Listing(tree.path()), Strings{"a"});
}

// The user deletes a copy because the other rows of its group hold its
// content: one of them at least must still be the very file read, unchanged.
TEST_F(DeleteCommandTest, CopyIsKeptUnlessAnotherOfItsGroupIsUnchangedSinceItWasRead) {
  const std::function<void()> partner_changes[] = {
      [&] { tree.File("b", "SAME"); },  // rewritten after it was read
      [&] {  // made again under the same inode number: only the status change time tells
        fs::remove(dir + "b");
        tree.File("b", "same");
        FileStatus made;
        ASSERT_TRUE(StatusAt(AT_FDCWD, (dir + "b").c_str(), true, made));
        made.changed -= 1;  // what was read a moment before it was made
        form.result_files[3] = form.recorded_files.Keep(made);
      },
      [&] { fs::remove(dir + "b"); },
      [&] { fs::rename(dir + "b", dir + "c"); },
  };
  for (const auto& change : partner_changes) {
    for (const char* name : {"a", "b", "x", "y"})
      tree.File(name, "same");
    AddGroup({"x"});  // copies in the groups around are no partners
    AddGroup({"a", "b"});
    AddGroup({"y"});
    change();
    Select(2);
    ExpectRefused("File \"" + dir +
                  "a\" is kept: no other copy of it is unchanged since the search");
    EXPECT_EQ(ReadFile(dir + "a"), "same");
    ClearLists(form);
    for (const std::string& name : Listing(tree.path()))
      fs::remove(dir + name);
  }

  // One unchanged copy is enough; and the last row of a group goes as before.
  tree.File("a", "same");
  tree.File("b", "same");
  tree.File("c", "same");
  AddGroup({"a", "b", "c"});
  tree.File("b", "SAME");
  Select(0);
  DeleteSelected();
  fs::remove(dir + "b");  // its row goes without a word, and "c" is left the last
  for (int i = 0; i < 2; ++i) {
    Select(0);
    DeleteSelected();
  }
  EXPECT_EQ(Names(), Strings{"---"});
  EXPECT_TRUE(Listing(tree.path()).empty());
}

// Every refusal names the file by its own bytes, whatever they are, and says why.
TEST_F(DeleteCommandTest, RefusalsNameAnyFileByItsBytesWithTheReason) {
  for (const std::string& name : Strings{"caf\xE9", "two\nlines", std::string(255, 'n')}) {
    const std::string file = tree.File(name, "same");
    tree.File("copy", "same");
    AddGroup({name, "copy"});
    Select(0);
    {
      FileLock lock(file);
      ExpectRefused(LockedError(file));
    }
    fs::remove(dir + "copy");
    ExpectRefused("File \"" + file +
                  "\" is kept: no other copy of it is unchanged since the search");
    ClearLists(form);
    AddGroup({name});
    Select(0);
    DeleteSelected();
    EXPECT_TRUE(Listing(tree.path()).empty());
    ClearLists(form);
  }
}

// The file is read on a thread of its own (see the window's tests), or on the
// window's where none can be started.
TEST_F(DeleteCommandTest, DeletesWhereNoThreadCanStart) {
  tree.File("a", "same");
  AddRow(dir, "a");
  ScopedFailure no_threads(
      [](Failable call, const char*) { return call == Failable::kThreadStart ? EAGAIN : 0; });
  Select(0);
  DeleteSelected();
  EXPECT_FALSE(Exists(dir + "a"));
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
