// The scan with files read ahead on worker threads, against the scan as it
// would run reading each file when it meets it.

#include "search/read_ahead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "search/delete_command.h"
#include "search/scan.h"
#include "search/search_command.h"
#include "tests/search/form_fixture.h"
#include "tests/support/syscall_hooks.h"

namespace dupfind::test {
namespace {

namespace fs = std::filesystem;

struct Scanned {
  Strings names, folders, digests, statuses;
  std::vector<FileIdentity> files;
  bool operator==(const Scanned&) const = default;
};

// What the scan gives, each file read on its own by its path when the walk
// meets it, and the file a link leads to taken once.
Scanned ReadOneByOne(const std::string& folder) {
  Scanned scanned;
  FileIdentitySet seen;
  FolderWalk walk(folder + "/");
  for (FileEntry entry; walk.Next(entry);) {
    FileStatus status;
    if (!StatusAt(AT_FDCWD, entry.Path().c_str(), true, status) ||
        !seen.insert(status.identity).second) {
      continue;
    }
    scanned.names.push_back(entry.name);
    scanned.folders.push_back(entry.folder->text);
    scanned.digests.push_back(DigestToText(DigestOfFile(entry.Path())));
    scanned.statuses.push_back(entry.Path());
    scanned.files.push_back(status.identity);
  }
  return scanned;
}

class ReadAheadTest : public FormTest {
 protected:
  Scanned Scan(const std::string& folder) {
    Scanned scanned;
    form.on_process_messages = [&] { scanned.statuses.push_back(form.StatusText()); };
    ScanFolder(folder);
    scanned.names = Rows(form.ListBox1());
    scanned.folders = Rows(form.ListBox2());
    scanned.digests = Rows(form.ListBox3());
    for (const FileStatus& file : form.working_files)
      scanned.files.push_back(file.identity);
    return scanned;
  }
};

// Random trees: files of every size class (empty, around the block and read
// sizes, larger than one read), copies, hard and symbolic links, nested and
// empty folders.
TEST_F(ReadAheadTest, RowsAreThoseOfFilesReadOneByOneOnRandomTrees) {
  std::mt19937 random(20261208);
  const std::size_t sizes[] = {0,
                               1,
                               55,
                               56,
                               63,
                               64,
                               65,
                               119,
                               120,
                               128,
                               4095,
                               4096,
                               4097,
                               65536,
                               (1 << 20) - 1,
                               1 << 20,
                               (1 << 20) + 1,
                               3 << 20};
  for (int round = 0; round < 3; ++round) {
    TempDir tree;
    std::vector<std::string> folders{""}, files, contents;
    for (int i = 0; i < 400; ++i) {
      const std::string folder = folders[random() % folders.size()];
      const std::string name = "n" + std::to_string(i);
      switch (random() % 10) {
        case 0:
          folders.push_back(folder + name + "/");
          fs::create_directories(tree.folder() + folders.back());
          break;
        case 1:
          if (!files.empty())
            tree.Link(folder + name, tree.folder() + files[random() % files.size()]);
          break;
        case 2:
          if (!files.empty()) {
            fs::create_hard_link(tree.folder() + files[random() % files.size()],
                                 tree.folder() + folder + name);
          }
          break;
        case 3:
          if (folders.size() > 1) tree.Link(folder + name, tree.folder() + folders[1]);
          break;
        default: {
          std::string content;
          if (!contents.empty() && random() % 3 == 0) {
            content = contents[random() % contents.size()];
          } else {
            const std::size_t size =
                random() % 4 == 0 ? sizes[random() % std::size(sizes)] : random() % 5000;
            content.resize(size);
            for (char& byte : content)
              byte = static_cast<char>(random());
          }
          files.push_back(folder + name);
          contents.push_back(content);
          tree.File(files.back(), content);
        }
      }
    }
    const Scanned expected = ReadOneByOne(tree.path());
    EXPECT_EQ(Scan(tree.path()), expected) << "round " << round;
    ClearLists(form);
  }
}

// A later file fails first, on another thread; the scan still ends with the
// first failing file in scan order, and every file is closed and unlocked
// before the error is seen.
TEST_F(ReadAheadTest, FirstFailingFileInScanOrderEndsTheScanWithItsError) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two worker threads";
  TempDir tree;
  for (int i = 0; i < 40; ++i)
    tree.File("f" + std::to_string(i), std::string(i * 1000, 'x'));
  const Strings listed = Listing(tree.path());
  const std::string early = listed[10], late = listed[30];

  std::mutex mutex;
  std::condition_variable late_failed;
  bool late_done = false;
  ScopedCallHook hook([&](Call call, int, const char* path) {
    if (call != Call::kOpen) return;
    const std::string name = fs::path(path).filename();
    std::unique_lock<std::mutex> guard(mutex);
    if (name == late && !late_done) {
      fs::remove(tree.folder() + late);
      late_done = true;
      late_failed.notify_all();
    } else if (name == early && fs::exists(tree.folder() + early)) {
      late_failed.wait_for(guard, std::chrono::seconds(30), [&] { return late_done; });
      fs::remove(tree.folder() + early);
    }
  });
  const auto before = OpenDescriptors();
  EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }),
            "Cannot open file \"" + tree.folder() + early + "\". No such file or directory");
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_TRUE(late_done);
  EXPECT_EQ(Rows(form.ListBox1()), Strings(listed.begin(), listed.begin() + 11));
  EXPECT_EQ(form.ListBox3().Count(), 10);
  for (const std::string& name : listed) {
    if (name == early || name == late) continue;
    EXPECT_NO_THROW(FileLock lock(tree.folder() + name)) << name;
  }
}

// A copy deleted from inside the scan, after it was read ahead but before the
// scan got to it, is not given a row for the content it had: the scan meets
// it as gone, as it would reading each file when it meets it.
TEST_F(ReadAheadTest, FileDeletedFromInsideTheScanAfterItWasReadAheadIsMetAsGone) {
  TempDir tree;
  for (int i = 0; i < 20; ++i)
    tree.File("f" + std::to_string(i), i < 2 ? "same" : std::to_string(i));
  const Strings listed = Listing(tree.path());
  form.SetFolderText(tree.path());
  SearchDuplicates();
  ASSERT_EQ(form.ListBox7().Count(), 3);
  const int row = form.ListBox7().Get(0) == listed[0] ? 1 : 0;  // the copy scanned later
  const std::string victim = form.ListBox7().Get(row);
  ASSERT_NE(victim, listed[0]);

  for (TextList* list : {&form.ListBox1(), &form.ListBox2(), &form.ListBox3()})
    list->Clear();
  form.working_files.clear();
  form.recorded_files.clear();
  std::mutex mutex;
  std::condition_variable opened;
  bool victim_read = false;
  ScopedCallHook hook([&](Call call, int, const char* path) {
    if (call != Call::kOpen || fs::path(path).filename() != victim) return;
    const std::lock_guard<std::mutex> guard(mutex);
    victim_read = true;
    opened.notify_all();
  });
  bool deleted = false;
  form.on_process_messages = [&] {
    if (deleted) return;
    deleted = true;
    std::unique_lock<std::mutex> guard(mutex);
    opened.wait(guard, [&] { return victim_read; });  // it has been read ahead
    guard.unlock();
    form.ListBox7().SetItemIndex(row);
    DeleteSelected();
  };
  EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }),
            "Cannot open file \"" + tree.folder() + victim + "\". No such file or directory");
}

}  // namespace
}  // namespace dupfind::test
