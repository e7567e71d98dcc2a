// Times the grouping pass, GroupDuplicates, on synthetic working rows, beside
// the quadratic pass it replaced, written out the old way: every position
// compared with every row, texts read afresh through the list interface, the
// reported rows deleted one at a time. The quadratic pass runs only where its
// estimated time stays under a cap. Where both run, their nine lists must be
// equal, or the program stops with an error.
//
// Usage: grouping_bench [--sizes N,N,...] [--cap SECONDS] [--runs R]
// Prints a Markdown table.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "search/grouping.h"
#include "search/main_form.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Row {
  std::string name;
  std::string folder;
  std::string digest;
};

// A third of the rows repeat the digest of another row, as in a tree where a
// third of the files are copies; names repeat often (IMG_0000-IMG_9999), as
// they do in real folders, and must not matter.
std::vector<Row> SyntheticRows(int count) {
  std::mt19937_64 random(0x6B0C5EEDull + static_cast<std::uint64_t>(count));
  const int originals = count - count / 3;
  std::vector<std::string> digests;
  digests.reserve(static_cast<std::size_t>(originals));
  char text[40];
  for (int i = 0; i < originals; ++i) {
    std::snprintf(text, sizeof text, "%016llX%016llX", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    digests.emplace_back(text);
  }
  std::vector<Row> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const std::string& digest =
        i < originals ? digests[static_cast<std::size_t>(i)] : digests[random() % originals];
    std::snprintf(text, sizeof text, "IMG_%04d.JPG", static_cast<int>(random() % 10000));
    std::string name = text;
    std::snprintf(text, sizeof text, "/home/user/Pictures/%04d/", i / 100);
    rows.push_back({std::move(name), text, digest});
  }
  std::shuffle(rows.begin(), rows.end(), random);
  return rows;
}

void Fill(dupfind::PlainForm& form, const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    form.ListBox1().Add(row.name);
    form.ListBox2().Add(row.folder);
    form.ListBox3().Add(row.digest);
  }
}

// The quadratic pass, step by step as it was, except that a reported group's
// rows leave the working lists themselves (not every row sharing a name with
// one of them). The group holds every working row with its digest text, so
// deleting the rows with that digest text deletes the group and nothing else.
void QuadraticGrouping(dupfind::MainForm& form) {
  dupfind::TextList& names = form.ListBox1();
  dupfind::TextList& folders = form.ListBox2();
  dupfind::TextList& digests = form.ListBox3();
  dupfind::TextList& group_names = form.ListBox4();
  dupfind::TextList& group_folders = form.ListBox5();
  dupfind::TextList& group_digests = form.ListBox6();
  const int n = names.Count();
  if (n == 0) return;
  for (int i = n - 1; i >= 0; --i) {
    if (i >= names.Count()) continue;
    for (int j = names.Count() - 1; j >= 0; --j) {
      if (digests.Get(i) == digests.Get(j)) {
        group_names.Add(names.Get(j));
        group_folders.Add(folders.Get(j));
        group_digests.Add(digests.Get(j));
      }
    }
    if (group_names.Count() >= 2) {
      for (int k = 0; k < group_names.Count(); ++k) {
        form.ListBox7().Add(group_names.Get(k));
        form.ListBox8().Add(group_folders.Get(k));
        form.ListBox9().Add(group_digests.Get(k));
        for (int m = names.Count() - 1; m >= 0; --m) {
          if (digests.Get(m) == group_digests.Get(k)) {
            names.Delete(m);
            folders.Delete(m);
            digests.Delete(m);
          }
        }
      }
      form.ListBox7().Add("---");
      form.ListBox8().Add("---");
      form.ListBox9().Add("---");
    }
    group_names.Clear();
    group_folders.Clear();
    group_digests.Clear();
  }
}

// Seconds taken by `pass` on a form freshly filled with `rows`; the filled
// form is left in `form`.
double TimePass(dupfind::PlainForm& form, const std::vector<Row>& rows,
                const std::function<void(dupfind::PlainForm&)>& pass) {
  Fill(form, rows);
  const auto start = Clock::now();
  pass(form);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Linear(dupfind::PlainForm& form) {
  dupfind::Form1 = &form;
  dupfind::GroupDuplicates();
  dupfind::Form1 = nullptr;
}

bool SameLists(dupfind::PlainForm& a, dupfind::PlainForm& b) {
  dupfind::TextList* const lists_a[] = {&a.ListBox1(), &a.ListBox2(), &a.ListBox3(),
                                        &a.ListBox4(), &a.ListBox5(), &a.ListBox6(),
                                        &a.ListBox7(), &a.ListBox8(), &a.ListBox9()};
  dupfind::TextList* const lists_b[] = {&b.ListBox1(), &b.ListBox2(), &b.ListBox3(),
                                        &b.ListBox4(), &b.ListBox5(), &b.ListBox6(),
                                        &b.ListBox7(), &b.ListBox8(), &b.ListBox9()};
  for (int l = 0; l < 9; ++l) {
    if (lists_a[l]->Count() != lists_b[l]->Count()) {
      std::fprintf(stderr, "ListBox%d: %d rows against %d\n", l + 1, lists_a[l]->Count(),
                   lists_b[l]->Count());
      return false;
    }
    for (int i = 0; i < lists_a[l]->Count(); ++i) {
      if (lists_a[l]->Get(i) != lists_b[l]->Get(i)) {
        std::fprintf(stderr, "ListBox%d differs at row %d\n", l + 1, i);
        return false;
      }
    }
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<int> ParseSizes(const char* text) {
  std::vector<int> sizes;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    const long size = std::strtol(p, &end, 10);
    if (end == p || size < 0 || size > 100000000) return {};
    sizes.push_back(static_cast<int>(size));
    p = *end == ',' ? end + 1 : end;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {10000, 100000, 1000000};
  double cap = 60;
  int runs = 3;
  for (int a = 1; a + 1 < argc; a += 2) {
    const std::string option = argv[a];
    if (option == "--sizes") {
      sizes = ParseSizes(argv[a + 1]);
    } else if (option == "--cap") {
      cap = std::atof(argv[a + 1]);
    } else if (option == "--runs") {
      runs = std::atoi(argv[a + 1]);
    } else {
      sizes.clear();
    }
  }
  if (sizes.empty() || runs < 1 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: grouping_bench [--sizes N,N,...] [--cap SECONDS] [--runs R]\n");
    return 2;
  }

  // The quadratic pass grows with the square of the rows: estimate from the
  // last size it ran on, starting from a short run on 1,000 rows.
  int known_rows = std::min(1000, sizes.front());
  double known_seconds = 0;
  {
    dupfind::PlainForm form;
    known_seconds = TimePass(form, SyntheticRows(known_rows), QuadraticGrouping);
  }

  std::printf(
      "| rows | groups | rows reported | linear pass, s (median of %d) |"
      " quadratic pass, s | quadratic / linear |\n",
      runs);
  std::printf("|---:|---:|---:|---:|---:|---:|\n");
  double largest_linear = 0;
  for (const int count : sizes) {
    const std::vector<Row> rows = SyntheticRows(count);
    std::vector<double> times;
    std::unique_ptr<dupfind::PlainForm> last;  // the last run's lists, for the comparison
    for (int r = 0; r < runs; ++r) {
      last = std::make_unique<dupfind::PlainForm>();
      times.push_back(TimePass(*last, rows, Linear));
    }
    dupfind::PlainForm& linear = *last;
    const double linear_seconds = Median(times);
    if (count == sizes.back()) largest_linear = linear_seconds;
    int groups = 0;
    for (int i = 0; i < linear.ListBox9().Count(); ++i)
      groups += linear.ListBox9().Get(i) == "---";
    const int reported = linear.ListBox7().Count() - groups;

    const double ratio = known_rows > 0 ? static_cast<double>(count) / known_rows : 1;
    const double estimate = known_seconds * ratio * ratio;
    std::string quadratic_text =
        "skipped (about " + std::to_string(static_cast<long>(estimate)) + " s estimated)";
    std::string ratio_text = "-";
    if (estimate <= cap) {
      dupfind::PlainForm quadratic;
      const double seconds = TimePass(quadratic, rows, QuadraticGrouping);
      if (!SameLists(linear, quadratic)) {
        std::fprintf(stderr, "grouping_bench: the two passes disagree on %d rows\n", count);
        return 1;
      }
      known_rows = count;
      known_seconds = seconds;
      char text[64];
      std::snprintf(text, sizeof text, "%.2f", seconds);
      quadratic_text = text;
      if (linear_seconds > 0) {
        std::snprintf(text, sizeof text, "%.0f", seconds / linear_seconds);
        ratio_text = text;
      }
    }
    std::printf("| %d | %d | %d | %.4f | %s | %s |\n", count, groups, reported, linear_seconds,
                quadratic_text.c_str(), ratio_text.c_str());
    std::fflush(stdout);
  }
  if (sizes.back() >= 1000000) {
    std::printf("\nAim, %d rows grouped in under 1 s: %s (%.3f s).\n", sizes.back(),
                largest_linear < 1 ? "met" : "missed", largest_linear);
  }
  return 0;
}
