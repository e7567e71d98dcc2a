#include "search/grouping.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "search/main_form.h"

namespace dupfind {
namespace {

struct Row {
  std::string name;
  std::string folder;
  std::string digest;
};

// Groups of rows with equal digest text, numbered in the order in which their
// latest row is met; each group's rows are chained from the latest scanned to
// the earliest.
struct Groups {
  std::vector<int> first;  // per group: its latest row
  std::vector<int> size;   // per group: its number of rows
  std::vector<int> next;   // per row: the group's next earlier row, or -1
};

Groups GroupByDigest(const std::vector<Row>& rows) {
  Groups groups;
  groups.next.assign(rows.size(), -1);
  std::vector<int> last;
  std::unordered_map<std::string_view, int> group_of;
  group_of.reserve(rows.size());
  for (int i = static_cast<int>(rows.size()) - 1; i >= 0; --i) {
    const int new_group = static_cast<int>(groups.first.size());
    const auto [it, is_new] = group_of.try_emplace(rows[i].digest, new_group);
    if (is_new) {
      groups.first.push_back(i);
      groups.size.push_back(1);
      last.push_back(i);
    } else {
      groups.next[last[it->second]] = i;
      last[it->second] = i;
      ++groups.size[it->second];
    }
  }
  return groups;
}

// Every row ends either in the results or among the survivors, never both,
// so its texts are moved, not copied.
void Append(TextList& names, TextList& folders, TextList& digests, Row&& row) {
  names.Add(std::move(row.name));
  folders.Add(std::move(row.folder));
  digests.Add(std::move(row.digest));
}

const std::string kSeparator = "---";

}  // namespace

void GroupDuplicates() {
  MainForm& form = *Form1;
  const int count = form.ListBox1().Count();
  if (count == 0) return;

  // Read from the last row down, digest first: a short digest list fails on
  // its first read, at position count - 1, before anything is written.
  std::vector<Row> rows(static_cast<std::size_t>(count));
  for (int i = count - 1; i >= 0; --i) {
    Row& row = rows[i];
    row.digest = form.ListBox3().Get(i);
    row.name = form.ListBox1().Get(i);
    row.folder = form.ListBox2().Get(i);
  }

  const Groups groups = GroupByDigest(rows);
  std::vector<bool> reported(rows.size(), false);
  for (std::size_t group = 0; group < groups.first.size(); ++group) {
    if (groups.size[group] < 2) continue;
    for (int i = groups.first[group]; i >= 0; i = groups.next[i]) {
      Append(form.ListBox7(), form.ListBox8(), form.ListBox9(), std::move(rows[i]));
      reported[i] = true;
    }
    Append(form.ListBox7(), form.ListBox8(), form.ListBox9(),
           Row{kSeparator, kSeparator, kSeparator});
  }

  form.ListBox1().Clear();
  form.ListBox2().Clear();
  form.ListBox3().Clear();
  for (int i = 0; i < count; ++i) {
    if (!reported[i]) Append(form.ListBox1(), form.ListBox2(), form.ListBox3(), std::move(rows[i]));
  }
  form.ListBox4().Clear();
  form.ListBox5().Clear();
  form.ListBox6().Clear();
}

}  // namespace dupfind
