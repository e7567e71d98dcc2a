#include "search/grouping.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "search/main_form.h"

namespace dupfind {
namespace {

using Column = std::vector<std::string>;

// Groups of rows with equal digest text, numbered in the order in which their
// latest row is met; each group's rows are chained from the latest scanned to
// the earliest.
struct Groups {
  std::vector<int> first;  // per group: its latest row
  std::vector<int> size;   // per group: its number of rows
  std::vector<int> next;   // per row: the group's next earlier row, or -1
};

Groups GroupByDigest(const Column& digests) {
  Groups groups;
  groups.next.assign(digests.size(), -1);
  std::vector<int> last;
  std::unordered_map<std::string_view, int> group_of;
  group_of.reserve(digests.size());
  for (int i = static_cast<int>(digests.size()) - 1; i >= 0; --i) {
    const int new_group = static_cast<int>(groups.first.size());
    const auto [it, is_new] = group_of.try_emplace(digests[i], new_group);
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

// One triple of parallel columns being written, with the file of each row.
struct Triple {
  Column names, folders, digests;
  std::vector<FileStatus> files;

  // Every row goes either to the results or back to the working lists, never
  // both, so its texts are moved, not copied.
  void Reserve(std::size_t rows) {
    names.reserve(rows);
    folders.reserve(rows);
    digests.reserve(rows);
    files.reserve(rows);
  }

  void Take(Triple& from, int row) {
    names.push_back(std::move(from.names[row]));
    folders.push_back(std::move(from.folders[row]));
    digests.push_back(std::move(from.digests[row]));
    files.push_back(from.files[row]);
  }

  void AddSeparator() {
    names.push_back(kSeparator);
    folders.push_back(kSeparator);
    digests.push_back(kSeparator);
    files.push_back({});
  }

  void AppendTo(TextList& name_list, TextList& folder_list, TextList& digest_list,
                std::vector<FileStatus>& file_list) {
    name_list.AddAll(std::move(names));
    folder_list.AddAll(std::move(folders));
    digest_list.AddAll(std::move(digests));
    file_list.insert(file_list.end(), files.begin(), files.end());
  }
};

}  // namespace

void GroupDuplicates() {
  MainForm& form = *Form1;
  const int count = form.ListBox1().Count();
  if (count == 0) return;
  // A digest list left short by a search that failed inside this one's scan
  // fails at its last row, as a read from the last row down would, before
  // anything is touched.
  for (TextList* list : {&form.ListBox3(), &form.ListBox2()}) {
    if (list->Count() < count) throw ListIndexError(count - 1);
  }

  Triple working{form.ListBox1().TakeAll(), form.ListBox2().TakeAll(), form.ListBox3().TakeAll(),
                 std::exchange(form.working_files, {})};
  working.files.resize(working.names.size());  // rows no scan gave have no file
  const Groups groups = GroupByDigest(working.digests);

  std::size_t reported_rows = 0, reported_groups = 0;
  for (const int size : groups.size) {
    if (size < 2) continue;
    reported_rows += static_cast<std::size_t>(size);
    ++reported_groups;
  }
  Triple results, survivors;
  results.Reserve(reported_rows + reported_groups);
  survivors.Reserve(static_cast<std::size_t>(count) - reported_rows);
  std::vector<bool> reported(working.names.size(), false);
  for (std::size_t group = 0; group < groups.first.size(); ++group) {
    if (groups.size[group] < 2) continue;
    for (int i = groups.first[group]; i >= 0; i = groups.next[i]) {
      results.Take(working, i);
      reported[i] = true;
    }
    results.AddSeparator();
  }
  for (int i = 0; i < count; ++i) {
    if (!reported[i]) survivors.Take(working, i);
  }

  results.AppendTo(form.ListBox7(), form.ListBox8(), form.ListBox9(), form.result_files);
  survivors.AppendTo(form.ListBox1(), form.ListBox2(), form.ListBox3(), form.working_files);
  form.ListBox4().Clear();
  form.ListBox5().Clear();
  form.ListBox6().Clear();
}

}  // namespace dupfind
