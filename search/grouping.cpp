#include "search/grouping.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "search/main_form.h"

namespace dupfind {
namespace {

// The groups of rows with equal digest text, two rows or more, each from its
// latest row to its earliest, the groups in the order of their latest rows,
// latest first.
std::vector<std::vector<int>> GroupByDigest(const TextList& digests, int count) {
  // Rows of equal text have equal hashes: sorted by hash, they stand side by
  // side, latest first, and only those runs are compared as text.
  struct Keyed {
    std::uint64_t hash;
    int row;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row)
    keyed.push_back({digests.Hash(row), row});
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return a.hash != b.hash ? a.hash < b.hash : a.row > b.row;
  });

  std::vector<std::vector<int>> groups;
  std::vector<int> run;
  for (std::size_t begin = 0, end = 0; begin < keyed.size(); begin = end) {
    while (end < keyed.size() && keyed[end].hash == keyed[begin].hash)
      ++end;
    if (end - begin < 2) continue;
    run.clear();
    for (std::size_t i = begin; i < end; ++i)
      run.push_back(keyed[i].row);
    // Texts that differ under one hash part into groups of their own.
    while (!run.empty()) {
      const std::string text = digests.Get(run.front());
      std::vector<int> group, rest;
      for (const int row : run)
        (row == run.front() || digests.Get(row) == text ? group : rest).push_back(row);
      if (group.size() >= 2) groups.push_back(std::move(group));
      run = std::move(rest);
    }
  }
  std::sort(groups.begin(), groups.end(),
            [](const std::vector<int>& a, const std::vector<int>& b) { return a[0] > b[0]; });
  return groups;
}

}  // namespace

void GroupDuplicates() {
  MainForm& form = *Form1;
  TextList& names = form.ListBox1();
  TextList& folders = form.ListBox2();
  TextList& digests = form.ListBox3();
  const int count = names.Count();
  if (count == 0) return;
  // A digest list left short by a search that failed inside this one's scan
  // fails at its last row, as a read from the last row down would, before
  // anything is touched.
  for (TextList* list : {&digests, &folders}) {
    if (list->Count() < count) throw ListIndexError(count - 1);
  }

  const std::vector<std::vector<int>> groups = GroupByDigest(digests, count);
  std::vector<std::string> result_names, result_folders, result_digests;
  std::vector<FileStatus> result_files;
  std::vector<int> reported;
  for (const std::vector<int>& group : groups) {
    for (const int row : group) {
      result_names.push_back(names.Get(row));
      result_folders.push_back(folders.Get(row));
      result_digests.push_back(digests.Get(row));
      const auto at = static_cast<std::size_t>(row);
      result_files.push_back(at < form.working_files.size() ? form.working_files[at]
                                                            : FileStatus{});  // no scan gave it
      reported.push_back(row);
    }
    for (std::vector<std::string>* column : {&result_names, &result_folders, &result_digests})
      column->push_back(kSeparator);
    result_files.push_back({});
  }
  std::sort(reported.begin(), reported.end());

  form.ListBox7().AddAll(std::move(result_names));
  form.ListBox8().AddAll(std::move(result_folders));
  form.ListBox9().AddAll(std::move(result_digests));
  form.result_files.insert(form.result_files.end(), result_files.begin(), result_files.end());
  // The rows reported leave the working lists, the others keep their order.
  names.DeleteAll(reported);
  folders.DeleteAll(reported);
  digests.DeleteAll(reported);
  std::vector<FileStatus>& files = form.working_files;
  auto next = reported.begin();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (next != reported.end() && static_cast<std::size_t>(*next) == i) {
      ++next;
    } else {
      files[kept++] = files[i];
    }
  }
  files.resize(kept);
  form.ListBox4().Clear();
  form.ListBox5().Clear();
  form.ListBox6().Clear();
}

}  // namespace dupfind
