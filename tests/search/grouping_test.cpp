#include "search/grouping.h"

#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/search/form_fixture.h"

namespace dupfind::test {
namespace {

using Row = std::tuple<std::string, std::string, std::string>;  // name, folder, digest text
using Table = std::vector<Row>;

const Row kSeparatorRow{"---", "---", "---"};

// The grouping pass as first written, quadratic, reading every text out of the
// lists afresh, except that a reported group takes out its own rows rather
// than every row that shares a name with one of them.
void QuadraticGrouping() {
  MainForm& f = *Form1;
  const int n = f.ListBox1().Count();
  if (n == 0) return;
  for (int i = n - 1; i >= 0; --i) {
    if (i >= f.ListBox1().Count()) continue;
    std::vector<int> members;  // positions of the group's rows, highest first
    for (int j = f.ListBox1().Count() - 1; j >= 0; --j) {
      if (f.ListBox3().Get(i) == f.ListBox3().Get(j)) {
        f.ListBox4().Add(f.ListBox1().Get(j));
        f.ListBox5().Add(f.ListBox2().Get(j));
        f.ListBox6().Add(f.ListBox3().Get(j));
        members.push_back(j);
      }
    }
    if (f.ListBox4().Count() >= 2) {
      for (int k = 0; k < f.ListBox4().Count(); ++k) {
        f.ListBox7().Add(f.ListBox4().Get(k));
        f.ListBox8().Add(f.ListBox5().Get(k));
        f.ListBox9().Add(f.ListBox6().Get(k));
        // Rows above members[k] went first, so its position still holds.
        f.ListBox1().Delete(members[k]);
        f.ListBox2().Delete(members[k]);
        f.ListBox3().Delete(members[k]);
      }
      f.ListBox7().Add("---");
      f.ListBox8().Add("---");
      f.ListBox9().Add("---");
    }
    f.ListBox4().Clear();
    f.ListBox5().Clear();
    f.ListBox6().Clear();
  }
}

void Append(TextList& names, TextList& folders, TextList& digests, const Row& row) {
  names.Add(std::get<0>(row));
  folders.Add(std::get<1>(row));
  digests.Add(std::get<2>(row));
}

void FillWorking(MainForm& form, const Table& rows) {
  for (const Row& row : rows)
    Append(form.ListBox1(), form.ListBox2(), form.ListBox3(), row);
}

// The rows of the working (0), group (1) or result (2) triple.
Table Triple(MainForm& form, int triple) {
  const std::vector<TextList*> lists = AllLists(form);
  Table rows;
  for (int i = 0; i < lists[3 * triple]->Count(); ++i) {
    rows.emplace_back(lists[3 * triple]->Get(i), lists[3 * triple + 1]->Get(i),
                      lists[3 * triple + 2]->Get(i));
  }
  return rows;
}

// Groups `scanned` and checks the results and the rows left in the working lists.
void ExpectGrouping(const Table& scanned, const Table& results, const Table& survivors) {
  PlainForm form;
  Form1 = &form;
  FillWorking(form, scanned);
  GroupDuplicates();
  Form1 = nullptr;
  EXPECT_EQ(Triple(form, 2), results);
  EXPECT_EQ(Triple(form, 0), survivors);
  EXPECT_EQ(Triple(form, 1), Table{});
}

TEST(GroupingTest, RowsOfEqualDigestAreReportedLatestScannedFirst) {
  ExpectGrouping({}, {}, {});
  const Table distinct = {{"a", "/d/", "X"}, {"a", "/e/", "Y"}, {"b", "/d/", "x"}};
  ExpectGrouping(distinct, {}, distinct);  // equal names, digests unequal in case: no pair

  const Row a{"a", "/d/", "X"}, b{"b", "/d/", "X"}, c{"c", "/d/", "Y"}, d{"d", "/e/", "X"};
  ExpectGrouping({a, b, c}, {b, a, kSeparatorRow}, {c});
  ExpectGrouping({a, b, d}, {d, b, a, kSeparatorRow}, {});

  const Row s1{"s1", "/", "1"}, p1{"p1", "/", "P"}, q1{"q1", "/", "Q"}, s2{"s2", "/", "2"},
      p2{"p2", "/", "P"}, q2{"q2", "/", "Q"};
  ExpectGrouping({s1, p1, q1, s2, p2, q2}, {q2, q1, kSeparatorRow, p2, p1, kSeparatorRow},
                 {s1, s2});
}

TEST(GroupingTest, SharedNamesDoNotHideCopies) {
  const Row ap{"p.txt", "A/", "X"}, aq{"q.txt", "A/", "X"}, bp{"p.txt", "B/", "Y"},
      br{"r.txt", "B/", "Y"};
  ExpectGrouping({ap, aq, bp, br}, {br, bp, kSeparatorRow, aq, ap, kSeparatorRow}, {});
}

TEST(GroupingTest, ShortDigestListFailsBeforeWritingAnything) {
  for (int n : {1, 3}) {
    PlainForm ragged;
    Form1 = &ragged;
    for (int i = 0; i < n; ++i)
      Append(ragged.ListBox1(), ragged.ListBox2(), ragged.ListBox3(), {"f", "/d/", "X"});
    ragged.ListBox3().Delete(n - 1);
    const Strings names = Rows(ragged.ListBox1()), folders = Rows(ragged.ListBox2());

    const std::string error = "List index out of bounds (" + std::to_string(n - 1) + ")";
    EXPECT_EQ(ErrorText(GroupDuplicates), error);
    EXPECT_EQ(ragged.ListBox7().Count() + ragged.ListBox8().Count() + ragged.ListBox9().Count(), 0);
    EXPECT_EQ(ragged.ListBox4().Count(), 0);
    EXPECT_EQ(Rows(ragged.ListBox1()), names);
    EXPECT_EQ(Rows(ragged.ListBox2()), folders);
    EXPECT_EQ(Rows(ragged.ListBox3()), Strings(n - 1, "X"));
    Form1 = nullptr;
  }
}

// A form whose folder results list takes no more than `room` rows.
class CrampedForm : public PlainForm {
 public:
  explicit CrampedForm(int room) : folders_(room) {}
  TextList& ListBox8() override { return folders_; }

 private:
  class CrampedList : public MemoryList {
   public:
    explicit CrampedList(int room) : room_(room) {}
    void AddAll(std::vector<std::string> texts) override {
      if (Count() + static_cast<int>(texts.size()) > room_) throw InsertLineError();
      MemoryList::AddAll(std::move(texts));
    }

   private:
    int room_;
  };
  CrampedList folders_;
};

// Results too many for the lists stop the grouping with the error, the three
// result lists and their files left in step, each a whole number of groups.
TEST(GroupingTest, ResultListThatFillsUpLeavesTheResultsInStep) {
  CrampedForm form(6000);
  Form1 = &form;
  for (int i = 0; i < 5000; ++i) {  // 2,500 pairs: 7,500 result rows
    char digest[33];
    std::snprintf(digest, sizeof digest, "%032X", i / 2);
    Append(form.ListBox1(), form.ListBox2(), form.ListBox3(), {"n", "/d/", digest});
    form.working_files.push_back(form.recorded_files.Keep(FileStatus{}));
  }
  EXPECT_EQ(ErrorText(GroupDuplicates), "Unable to insert a line");
  Form1 = nullptr;
  const int shown = form.ListBox7().Count();
  EXPECT_GT(shown, 0);
  EXPECT_EQ(shown % 3, 0);
  EXPECT_EQ(form.ListBox8().Count(), shown);
  EXPECT_EQ(form.ListBox9().Count(), shown);
  EXPECT_EQ(form.result_files.size(), static_cast<std::size_t>(shown));
  EXPECT_EQ(form.ListBox7().Get(shown - 1), "---");
}

// Many equal names, few distinct digests, and sizes from empty to a few hundred rows.
Table RandomRows(std::mt19937& random, int count) {
  std::uniform_int_distribution<int> small(1, 4), shape(0, 2);
  const int name_count = small(random), folder_count = small(random);
  const int digest_count = shape(random) == 0 ? count + 1 : small(random) + shape(random);
  Table rows;
  for (int i = 0; i < count; ++i) {
    // Texts come in case twins ("...5A", "...5a"): only exact equality pairs rows.
    const int digest = std::uniform_int_distribution<int>(0, digest_count)(random);
    char text[33];
    std::snprintf(text, sizeof text, "%031X%c", digest / 2, digest % 2 == 0 ? 'A' : 'a');
    const int name = std::uniform_int_distribution<int>(1, name_count)(random);
    const int folder = std::uniform_int_distribution<int>(1, folder_count)(random);
    rows.emplace_back("n" + std::to_string(name), "/f" + std::to_string(folder) + "/", text);
  }
  return rows;
}

TEST(GroupingDifferentialTest, MatchesTheQuadraticPassOnRandomRows) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> size_class(0, 19);
  for (int round = 0; round < 300; ++round) {
    int count = round;  // rounds 0 and 1: no row, one row
    if (round >= 2) {
      const int c = size_class(random);
      count = std::uniform_int_distribution<int>(2, c < 14 ? 12 : c < 19 ? 60 : 300)(random);
    }
    const Table rows = RandomRows(random, count);

    PlainForm linear, quadratic;
    for (PlainForm* form : {&linear, &quadratic}) {
      FillWorking(*form, rows);
      if (round % 7 == 3)  // results of an earlier pass are kept, not overwritten
        Append(form->ListBox7(), form->ListBox8(), form->ListBox9(), {"old", "/old/", "O"});
    }
    Form1 = &linear;
    GroupDuplicates();
    Form1 = &quadratic;
    QuadraticGrouping();
    Form1 = nullptr;

    SCOPED_TRACE("round " + std::to_string(round) + ", rows " + std::to_string(count));
    for (int list = 0; list < 3; ++list) {
      EXPECT_EQ(Triple(linear, list), Triple(quadratic, list)) << "list triple " << list;
    }
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
}  // namespace dupfind::test
