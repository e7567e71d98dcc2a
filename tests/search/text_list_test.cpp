#include "search/text_list.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/search/form_fixture.h"

namespace dupfind::test {
namespace {

MemoryList ListOf(const Strings& rows) {
  MemoryList list;
  for (const std::string& row : rows)
    list.Add(row);
  return list;
}

TEST(MemoryListTest, DeleteShiftsLaterRowsUpAndIgnoresPositionsOutside) {
  MemoryList list = ListOf({"a", "b", "a"});
  list.Delete(0);
  EXPECT_EQ(Rows(list), (Strings{"b", "a"}));
  list.Delete(2);
  list.Delete(-1);
  EXPECT_EQ(Rows(list), (Strings{"b", "a"}));
  MemoryList().Delete(0);
}

TEST(MemoryListTest, GetOutsideTheListNamesThePositionAndChangesNothing) {
  const MemoryList list = ListOf({"a", "b", "a"});
  EXPECT_EQ(ErrorText([&] { list.Get(3); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { list.Get(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorText([&] { MemoryList().Get(0); }), "List index out of bounds (0)");
  EXPECT_EQ(Rows(list), (Strings{"a", "b", "a"}));
}

TEST(MemoryListTest, ClearEmptiesAnyListAndDropsTheSelection) {
  MemoryList list;
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  list = ListOf({"x", "y"});
  list.SetItemIndex(1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.Add("z");
  list.Add("w");
  EXPECT_EQ(list.ItemIndex(), -1);  // a new row at the old position is not selected
}

TEST(MemoryListTest, SelectionFollowsItsRowUntilItIsDeleted) {
  MemoryList list = ListOf({"r0", "r1", "r2", "r3"});
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetItemIndex(4);
  EXPECT_EQ(list.ItemIndex(), -1);

  list.SetItemIndex(2);
  list.Delete(3);  // below it
  list.Delete(0);  // above it: the same row, one position up
  EXPECT_EQ(list.ItemIndex(), 1);
  EXPECT_EQ(list.Get(list.ItemIndex()), "r2");
  list.Delete(5);
  EXPECT_EQ(list.ItemIndex(), 1);
  list.Delete(1);  // the selected row itself
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(Rows(list), (Strings{"r1"}));
}

}  // namespace
}  // namespace dupfind::test
