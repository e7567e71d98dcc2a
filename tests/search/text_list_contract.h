#pragma once

// The rules every TextList keeps, as one suite of typed tests: each list type
// instantiates it in the test of its own header.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "search/text_list.h"
#include "tests/search/form_fixture.h"

namespace dupfind::test {

template <class List>
class TextListContract : public ::testing::Test {
 protected:
  static void Fill(TextList& list, const Strings& rows) {
    for (const std::string& row : rows)
      list.Add(row);
  }

  List list;
};

TYPED_TEST_SUITE_P(TextListContract);

TYPED_TEST_P(TextListContract, DeleteShiftsLaterRowsUpAndIgnoresPositionsOutside) {
  TextList& list = this->list;
  list.Delete(0);  // on an empty list
  this->Fill(list, {"a", "b", "a"});
  list.Delete(0);
  EXPECT_EQ(Rows(list), (Strings{"b", "a"}));
  list.Delete(2);
  list.Delete(-1);
  EXPECT_EQ(Rows(list), (Strings{"b", "a"}));
}

TYPED_TEST_P(TextListContract, GetOutsideTheListNamesThePositionAndChangesNothing) {
  TextList& list = this->list;
  EXPECT_EQ(ErrorText([&] { list.Get(0); }), "List index out of bounds (0)");
  this->Fill(list, {"a", "b", "a"});
  EXPECT_EQ(ErrorText([&] { list.Get(3); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { list.Get(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(Rows(list), (Strings{"a", "b", "a"}));
}

TYPED_TEST_P(TextListContract, ClearEmptiesAnyListAndDropsTheSelection) {
  TextList& list = this->list;
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  this->Fill(list, {"x", "y"});
  list.SetItemIndex(1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.ItemIndex(), -1);
  this->Fill(list, {"z", "w"});
  EXPECT_EQ(list.ItemIndex(), -1);  // a new row at the old position is not selected
  EXPECT_EQ(Rows(list), (Strings{"z", "w"}));
}

TYPED_TEST_P(TextListContract, DeleteAllRemovesTheRowsAsDeleteWould) {
  TextList& list = this->list;
  this->Fill(list, {"a", "b", "a", "d", "e"});
  list.SetItemIndex(3);
  list.DeleteAll({0, 2});
  EXPECT_EQ(Rows(list), (Strings{"b", "d", "e"}));
  EXPECT_EQ(list.ItemIndex(), 1);
  list.DeleteAll({});
  list.DeleteAll({1});
  EXPECT_EQ(Rows(list), (Strings{"b", "e"}));
  EXPECT_EQ(list.ItemIndex(), -1);
  list.DeleteAll({0, 1});
  EXPECT_EQ(list.Count(), 0);
}

TYPED_TEST_P(TextListContract, RowsOfEqualTextHashAlike) {
  TextList& list = this->list;
  const std::string digest = "900150983CD24FB0D6963F7D28E17F72";
  this->Fill(list, {digest, "x", digest, "x", "y"});
  EXPECT_EQ(list.Hash(0), list.Hash(2));
  EXPECT_EQ(list.Hash(1), list.Hash(3));
  EXPECT_NE(list.Hash(1), list.Hash(4));
  EXPECT_EQ(ErrorText([&] { list.Hash(5); }), "List index out of bounds (5)");
}

TYPED_TEST_P(TextListContract, AddAllAppendsInOrderAfterTheRowsThere) {
  TextList& list = this->list;
  list.AddAll({});
  list.AddAll({"a", "b"});
  list.Add("c");
  list.SetItemIndex(2);
  list.AddAll({"d", "a"});
  EXPECT_EQ(Rows(list), (Strings{"a", "b", "c", "d", "a"}));
  EXPECT_EQ(list.ItemIndex(), 2);
}

TYPED_TEST_P(TextListContract, SelectionFollowsItsRowUntilItIsDeleted) {
  TextList& list = this->list;
  this->Fill(list, {"r0", "r1", "r2", "r3"});
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetItemIndex(4);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetItemIndex(3);
  list.SetItemIndex(-1);
  EXPECT_EQ(list.ItemIndex(), -1);

  list.SetItemIndex(2);
  list.Delete(3);  // below it
  list.Delete(0);  // above it: the same row, one position up
  EXPECT_EQ(list.ItemIndex(), 1);
  EXPECT_EQ(list.Get(list.ItemIndex()), "r2");
  list.Delete(5);
  EXPECT_EQ(list.ItemIndex(), 1);
  list.Delete(1);  // the selected row itself: none, not a neighbour
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(Rows(list), (Strings{"r1"}));
  list.SetItemIndex(0);
  list.Delete(0);  // the last row there was
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(list.Count(), 0);
}

REGISTER_TYPED_TEST_SUITE_P(TextListContract, DeleteShiftsLaterRowsUpAndIgnoresPositionsOutside,
                            GetOutsideTheListNamesThePositionAndChangesNothing,
                            ClearEmptiesAnyListAndDropsTheSelection,
                            DeleteAllRemovesTheRowsAsDeleteWould, RowsOfEqualTextHashAlike,
                            AddAllAppendsInOrderAfterTheRowsThere,
                            SelectionFollowsItsRowUntilItIsDeleted);

}  // namespace dupfind::test
