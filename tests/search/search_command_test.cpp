#include "search/search_command.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/search/form_fixture.h"

namespace dupfind::test {
namespace {

constexpr char kDone[] = "Поиск дублей завершен";
constexpr char kMessageDigest[] = "F96B697D7CB7938D525A2F31AAF161D0";  // MD5 of "message digest"

class SearchTest : public FormTest {
 protected:
  void FillEveryList() {
    for (TextList* list : AllLists(form))
      list->Add("junk");
  }
  // The nine lists, ListBox1 first.
  std::vector<Strings> Columns() {
    std::vector<Strings> columns;
    for (TextList* list : AllLists(form))
      columns.push_back(Rows(*list));
    return columns;
  }
};

TEST_F(SearchTest, EmptiesEveryListThenReportsTheCopiesAlikeOnEveryRun) {
  TempDir tree;
  tree.File("a", "abc");
  tree.File("b", "abc");
  tree.File("c", "message digest");
  Strings copies;  // latest scanned first
  for (const std::string& name : Listing(tree.path())) {
    if (name != "c") copies.insert(copies.begin(), name);
  }
  const std::string folder = tree.folder();
  FillEveryList();
  form.SetFolderText(tree.path());

  SearchDuplicates();
  const std::vector<Strings> first = Columns();
  EXPECT_EQ(first[0], Strings{"c"});
  EXPECT_EQ(first[1], Strings{folder});
  EXPECT_EQ(first[2], Strings{kMessageDigest});
  EXPECT_EQ(first[3].size() + first[4].size() + first[5].size(), 0u);
  EXPECT_EQ(first[6], (Strings{copies[0], copies[1], "---"}));
  EXPECT_EQ(first[7], (Strings{folder, folder, "---"}));
  EXPECT_EQ(first[8], (Strings{kAbcDigest, kAbcDigest, "---"}));
  EXPECT_EQ(form.StatusText(), kDone);
  form.SetStatusText("");
  SearchDuplicates();
  EXPECT_EQ(Columns(), first);
  EXPECT_EQ(form.StatusText(), kDone);

  // A folder with nothing to find still ends with every list empty.
  FillEveryList();
  form.SetStatusText("");
  form.SetFolderText(tree.folder() + "missing");
  SearchDuplicates();
  EXPECT_EQ(Columns(), std::vector<Strings>(9));
  EXPECT_EQ(form.StatusText(), kDone);
}

TEST_F(SearchTest, ScanErrorLeavesResultsEmptyAndTheWorkingRowsAsGathered) {
  TempDir tree;
  for (const char* name : {"a", "b", "c"})
    tree.File(name, "abc");  // all alike: a grouping would report them
  const Strings listed = Listing(tree.path());
  FileLock lock(tree.folder() + listed[2]);
  FillEveryList();
  form.SetFolderText(tree.path());

  EXPECT_EQ(ErrorText(SearchDuplicates), LockedError(tree.folder() + listed[2]));
  EXPECT_EQ(
      Columns(),
      (std::vector<Strings>{
          listed, Strings(3, tree.folder()), {kAbcDigest, kAbcDigest}, {}, {}, {}, {}, {}, {}}));
  EXPECT_EQ(form.StatusText(), tree.folder() + listed[1]);
}

// A search started from inside the scan (a click handled while events run)
// that fails leaves the digest list one row short; the outer scan goes on,
// and its grouping fails on its first read.
TEST_F(SearchTest, FailedSearchNestedInTheScanMakesTheOuterSearchFail) {
  TempDir outer, inner;
  for (const char* name : {"o1", "o2", "o3"})
    outer.File(name, "abc");
  const std::string locked = inner.File("locked", "x");
  FileLock lock(locked);
  const Strings listed = Listing(outer.path());

  bool nested = false;
  std::string nested_error;
  form.on_process_messages = [&] {
    if (nested) return;
    nested = true;
    form.SetFolderText(inner.path());
    nested_error = ErrorText(SearchDuplicates);  // the window shows it and goes on
  };
  form.SetFolderText(outer.path());

  EXPECT_EQ(ErrorText(SearchDuplicates), "List index out of bounds (2)");
  EXPECT_EQ(nested_error, LockedError(locked));
  // The nested search emptied the first outer row; the outer scan added two more.
  EXPECT_EQ(Rows(form.ListBox1()), (Strings{"locked", listed[1], listed[2]}));
  EXPECT_EQ(Rows(form.ListBox3()), (Strings{kAbcDigest, kAbcDigest}));
  EXPECT_EQ(form.ListBox7().Count() + form.ListBox8().Count() + form.ListBox9().Count(), 0);
  EXPECT_EQ(form.StatusText(), outer.folder() + listed[2]);
}

// The same folder searched again from inside its own scan (a second click on
// the find button): the nested search records the unique files; the outer scan
// must not give them a second row, or a file would stand as its own copy.
TEST_F(SearchTest, SearchNestedInTheScanOfTheSameFolderPairsNoFileWithItself) {
  TempDir tree;
  tree.File("one", "abc");
  tree.File("two", "message digest");
  bool nested = false;
  form.on_process_messages = [&] {
    if (nested) return;
    nested = true;
    SearchDuplicates();
  };
  form.SetFolderText(tree.path());

  SearchDuplicates();
  EXPECT_EQ(form.ListBox7().Count(), 0);
  Strings names = Rows(form.ListBox1());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Strings{"one", "two"}));
}

}  // namespace
}  // namespace dupfind::test
