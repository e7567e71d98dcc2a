#include "search/grouping.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "search/main_form.h"

namespace dupfind {
namespace {

struct Row {
  std::string name;
  std::string folder;
  std::string digest;
};

const std::string kSeparator = "---";

void Append(TextList& names, TextList& folders, TextList& digests, const Row& row) {
  names.Add(row.name);
  folders.Add(row.folder);
  digests.Add(row.digest);
}

}  // namespace

void GroupDuplicates() {
  MainForm& form = *Form1;
  const int count = form.ListBox1().Count();
  if (count == 0)
    return;

  // Read from the last row down, digest first: a short digest list fails on
  // its first read, at position count - 1, before anything is written.
  std::vector<Row> rows(static_cast<std::size_t>(count));
  for (int i = count - 1; i >= 0; --i) {
    Row& row = rows[static_cast<std::size_t>(i)];
    row.digest = form.ListBox3().Get(i);
    row.name = form.ListBox1().Get(i);
    row.folder = form.ListBox2().Get(i);
  }

  // Rows with equal digest text, latest scanned first; groups in the order
  // in which their latest row is met.
  std::unordered_map<std::string_view, std::size_t> group_of;
  group_of.reserve(rows.size());
  std::vector<std::vector<int>> groups;
  for (int i = count - 1; i >= 0; --i) {
    const auto [it, is_new] = group_of.try_emplace(rows[i].digest, groups.size());
    if (is_new)
      groups.emplace_back();
    groups[it->second].push_back(i);
  }

  std::vector<bool> reported(rows.size(), false);
  const Row separator{kSeparator, kSeparator, kSeparator};
  for (const std::vector<int>& group : groups) {
    if (group.size() < 2)
      continue;
    for (const int i : group) {
      Append(form.ListBox7(), form.ListBox8(), form.ListBox9(), rows[i]);
      reported[i] = true;
    }
    Append(form.ListBox7(), form.ListBox8(), form.ListBox9(), separator);
  }

  form.ListBox1().Clear();
  form.ListBox2().Clear();
  form.ListBox3().Clear();
  for (int i = 0; i < count; ++i) {
    if (!reported[i])
      Append(form.ListBox1(), form.ListBox2(), form.ListBox3(), rows[i]);
  }
  form.ListBox4().Clear();
  form.ListBox5().Clear();
  form.ListBox6().Clear();
}

}  // namespace dupfind
