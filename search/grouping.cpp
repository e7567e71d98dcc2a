#include "search/grouping.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "search/main_form.h"

namespace dupfind {
namespace {

// The groups of rows with equal digest text, two rows or more, each from its
// latest row to its earliest, the groups in the order of their latest rows,
// latest first: group g is rows[starts[g]] to rows[starts[g + 1]].
struct Groups {
  std::vector<int> rows;
  std::vector<std::size_t> starts{0};
};

Groups GroupByDigest(const TextList& digests, int count) {
  // Rows of equal text have equal hashes: sorted by hash, they stand side by
  // side, latest first, and only those runs are compared as text.
  struct Keyed {
    std::uint32_t hash;
    std::int32_t row;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) {
    const std::uint64_t hash = digests.Hash(row);
    keyed.push_back({static_cast<std::uint32_t>(hash ^ (hash >> 32)), row});
  }
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return a.hash != b.hash ? a.hash < b.hash : a.row > b.row;
  });

  Groups found;  // in the order of their hashes
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
      std::vector<int> rest;
      const std::size_t start = found.rows.size();
      for (const int row : run)
        (row == run.front() || digests.Get(row) == text ? found.rows : rest).push_back(row);
      if (found.rows.size() - start >= 2) {
        found.starts.push_back(found.rows.size());
      } else {
        found.rows.resize(start);
      }
      run = std::move(rest);
    }
  }
  std::vector<std::size_t> order(found.starts.size() - 1);
  for (std::size_t g = 0; g < order.size(); ++g)
    order[g] = g;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return found.rows[found.starts[a]] > found.rows[found.starts[b]];
  });
  Groups groups;
  groups.rows.reserve(found.rows.size());
  for (const std::size_t g : order) {
    groups.rows.insert(groups.rows.end(), found.rows.begin() + found.starts[g],
                       found.rows.begin() + found.starts[g + 1]);
    groups.starts.push_back(groups.rows.size());
  }
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

  const Groups groups = GroupByDigest(digests, count);
  // The results go over in batches: a million rows are never all copied out
  // of the lists at once.
  constexpr std::size_t kBatch = 4096;
  std::vector<std::string> result_names, result_folders, result_digests;
  std::vector<std::uint32_t> result_files;
  // A batch goes into the three lists and the files beside them whole, or
  // into none: a list that is full leaves them all in step.
  const auto hand_over = [&] {
    TextList* const lists[] = {&form.ListBox7(), &form.ListBox8(), &form.ListBox9()};
    std::vector<std::string>* const columns[] = {&result_names, &result_folders, &result_digests};
    const int before = lists[0]->Count();
    const std::size_t files_before = form.result_files.size();
    std::size_t filled = 0;
    try {
      for (; filled < 3; ++filled)
        lists[filled]->AddAll(std::move(*columns[filled]));
      form.result_files.insert(form.result_files.end(), result_files.begin(), result_files.end());
    } catch (...) {
      std::vector<int> added(static_cast<std::size_t>(lists[0]->Count() - before));
      std::iota(added.begin(), added.end(), before);
      for (std::size_t i = 0; i < filled; ++i)
        lists[i]->DeleteAll(added);
      form.result_files.resize(files_before);
      throw;
    }
    for (std::vector<std::string>* column : columns)
      column->clear();
    result_files.clear();
  };
  for (std::size_t g = 0; g + 1 < groups.starts.size(); ++g) {
    for (std::size_t i = groups.starts[g]; i < groups.starts[g + 1]; ++i) {
      const int row = groups.rows[i];
      result_names.push_back(names.Get(row));
      result_folders.push_back(folders.Get(row));
      result_digests.push_back(digests.Get(row));
      const auto at = static_cast<std::size_t>(row);
      result_files.push_back(at < form.working_files.size()
                                 ? form.working_files[at]
                                 : RecordedFiles::kNone);  // no scan gave it
    }
    for (std::vector<std::string>* column : {&result_names, &result_folders, &result_digests})
      column->push_back(kSeparator);
    result_files.push_back(RecordedFiles::kNone);
    if (result_names.size() >= kBatch) hand_over();
  }
  hand_over();
  std::vector<int> reported = groups.rows;
  std::sort(reported.begin(), reported.end());

  // The rows reported leave the working lists, the others keep their order.
  names.DeleteAll(reported);
  folders.DeleteAll(reported);
  digests.DeleteAll(reported);
  std::deque<std::uint32_t>& files = form.working_files;
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
