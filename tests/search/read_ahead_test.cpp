// The scan with files read ahead on threads of its own, against the scan as
// it would run reading each file when it meets it; and what the window sees
// while those threads are held up by the system.

#include "search/read_ahead.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "search/delete_command.h"
#include "search/scan.h"
#include "search/search_command.h"
#include "tests/search/form_fixture.h"
#include "tests/support/child_process.h"
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
  for (FileEntry entry; walk.NextFile(entry);) {
    FileStatus status;
    if (!StatusAt(AT_FDCWD, entry.Path().c_str(), true, status) || !seen.Insert(status.identity)) {
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

// The name of the file open at `fd`.
std::string NameAt(int fd) {
  std::error_code error;
  return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error).filename();
}

// A gate that threads wait at until the test opens it.
class Gate {
 public:
  void Open() {
    const std::lock_guard<std::mutex> guard(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }
  bool IsOpen() {
    const std::lock_guard<std::mutex> guard(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class ReadAheadTest : public FormTest {
 protected:
  Scanned Scan(const std::string& folder) {
    Scanned scanned;
    form.on_process_messages = [&] { scanned.statuses.push_back(form.StatusText()); };
    ScanFolder(folder);
    scanned.names = Rows(form.ListBox1());
    scanned.folders = Rows(form.ListBox2());
    scanned.digests = Rows(form.ListBox3());
    for (const std::uint32_t file : form.working_files)
      scanned.files.push_back(form.recorded_files[file].identity);
    return scanned;
  }

  // Joins the threads of ended searches that have ended; how many have not.
  std::size_t Lingering() { return form.lingering_threads.JoinEnded(); }
};

// Random trees: files of every size class (empty, around the block and read
// sizes, larger than one read), copies, hard and symbolic links, nested and
// empty folders; read from memory, by helpers on a file system that cannot
// say whether it would wait, and with too few threads to read ahead at all.
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
  for (int round = 0; round < 4; ++round) {
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
    std::optional<ScopedFileSystemType> remote;
    if (round == 1) remote.emplace(FUSE_SUPER_MAGIC);
    // Round 2: threads for the walker, the workers and one helper; round 3: none.
    int starts = 0;
    std::optional<ScopedFailure> threads;
    if (round >= 2) {
      threads.emplace([&, allowed = round == 2 ? 4 : 0](Failable call, const char*) {
        return call == Failable::kThreadStart && starts++ >= allowed ? EAGAIN : 0;
      });
    }
    EXPECT_EQ(Scan(tree.path()), expected) << "round " << round;
    ClearLists(form);
  }
}

// A later file's read is held up by the system when an earlier file fails:
// the error comes at once. The held read stays with its thread; a new search
// reads the file under that thread's lock, without waiting for it and without
// taking the lock for another program's; the thread closes the file when its
// read returns.
TEST_F(ReadAheadTest, ErrorComesAtOnceWhileALaterReadIsHeldUp) {
  const ScopedFileSystemType remote(FUSE_SUPER_MAGIC);  // every read by a helper
  TempDir tree;
  for (int i = 0; i < 8; ++i)
    tree.File("f" + std::to_string(i), std::string(100000 + i, 'x'));
  const Strings listed = Listing(tree.path());
  const std::string early = listed[2], late = listed[5];

  Gate late_held, release;
  std::atomic<int> late_reads = 0;
  ScopedCallHook hook([&](Call call, int folder, const char* path) {
    if (call == Call::kOpen && folder != AT_FDCWD && path == early) late_held.Wait();
    if (call == Call::kRead && NameAt(folder) == late && late_reads++ == 0) {
      late_held.Open();
      release.Wait();
    }
  });
  const auto before = OpenDescriptors();
  {
    FileLock lock(tree.folder() + early);
    EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }), LockedError(tree.folder() + early));
  }
  EXPECT_FALSE(release.IsOpen());
  EXPECT_EQ(Lingering(), 1u);

  ClearLists(form);
  EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }), "<no error>");
  EXPECT_EQ(Rows(form.ListBox1()), listed);
  EXPECT_EQ(Lingering(), 1u);

  release.Open();
  while (Lingering() != 0)
    std::this_thread::yield();
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_NO_THROW(FileLock lock(tree.folder() + late));
}

// While the file the window needs is held up, the window goes on handling
// events, and a command the user starts then sees the rows of the files
// before it: here a scan of another folder, run nested, whose rows come
// between. The held file's row follows once it is read.
TEST_F(ReadAheadTest, WindowIsServedWhileTheFileItWaitsForIsHeldUp) {
  const ScopedFileSystemType remote(FUSE_SUPER_MAGIC);
  TempDir tree, other;
  for (int i = 0; i < 4; ++i)
    tree.File("f" + std::to_string(i), std::string(5000 * (i + 1), 'y'));
  other.File("o", "other");
  const Strings listed = Listing(tree.path());
  const std::string held = listed[1];

  Gate release;
  ScopedCallHook hook([&](Call call, int fd, const char*) {
    if (call == Call::kRead && NameAt(fd) == held) release.Wait();
  });
  std::string status_seen;
  Strings rows_seen;
  bool acted = false;
  form.on_await_messages = [&](MainForm::UserInput input) {
    if (acted || form.ListBox1().Count() == 0) return false;
    acted = true;
    EXPECT_EQ(input, MainForm::UserInput::kHandle);
    status_seen = form.StatusText();
    rows_seen = Rows(form.ListBox1());
    ScanFolder(other.path());
    release.Open();
    return true;
  };
  ScanFolder(tree.path());
  EXPECT_EQ(status_seen, tree.folder() + listed[0]);
  EXPECT_EQ(rows_seen, Strings{listed[0]});
  EXPECT_EQ(Rows(form.ListBox1()), (Strings{listed[0], "o", listed[1], listed[2], listed[3]}));
  EXPECT_EQ(form.ListBox3().Count(), 5);
}

// While the window waits for a large file on a slow disk, the disk is that
// file's: no other file's read starts until little of it is left, but one
// that a helper had taken before. The files after the first are opened only
// once its row is shown, when the window goes on to wait for the large one.
// (The disk is made slow, not a race decided: every read takes a millisecond
// longer, and a busier machine only makes them slower.)
TEST_F(ReadAheadTest, FileTheWindowWaitsForIsReadBeforeTheOthers) {
  const ScopedFileSystemType remote(FUSE_SUPER_MAGIC);
  TempDir tree;
  for (int i = 0; i < 7; ++i)
    tree.File("f" + std::to_string(i), std::string(1 << 20, 'a' + i));
  const Strings listed = Listing(tree.path());
  const std::string& first = listed[0];
  const std::string& head = listed[1];
  tree.File(first, "small");
  tree.File(head, std::string(8 << 20, 'h'));

  Gate first_shown;
  form.on_process_messages = [&] { first_shown.Open(); };
  std::mutex mutex;
  Strings reads;  // the files whose reads started, in order
  ScopedCallHook hook([&](Call call, int fd, const char* path) {
    if (call == Call::kOpen && fd != AT_FDCWD && path != first) first_shown.Wait();
    if (call != Call::kRead) return;
    {
      const std::lock_guard<std::mutex> guard(mutex);
      reads.push_back(NameAt(fd));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ScanFolder(tree.path());
  const std::size_t head_reads =
      static_cast<std::size_t>(std::count(reads.begin(), reads.end(), head));
  ASSERT_EQ(head_reads, (8u << 20) / kChunkSize);
  std::map<std::string, int> started;
  std::size_t seen = 0;
  for (const std::string& name : reads) {
    if (name == head) {
      ++seen;
    } else if (seen >= 8 && seen < head_reads - kHeadFirstBytes / kChunkSize - 1) {
      EXPECT_LE(++started[name], 1) << name << " read after " << seen << " reads of the head";
    }
  }
}

// A copy deleted from inside the scan, after it was read ahead but before the
// scan got to it, is not given a row for the content it had: the scan meets
// it as the window would reading each file itself. In a folder the scan is in,
// it is listed still, and fails to open; in one it has not entered yet, it is
// not listed at all.
TEST_F(ReadAheadTest, FilesDeletedFromInsideTheScanAreMetAsGone) {
  for (const bool in_subfolder : {false, true}) {
    TempDir tree, elsewhere;
    const std::string entry = "v";
    const std::string victim = tree.File(in_subfolder ? "v/victim" : "v", "same");
    // Not the first entry listed, so that an event comes before it.
    int files = 0;
    while (files < 20 || Listing(tree.path()).front() == entry) {
      tree.File("f" + std::to_string(files), std::to_string(files));
      ++files;
    }
    const std::string partner = elsewhere.File("partner", "same");
    // Its row and its partner's, as a search would have left them.
    form.SetFolderText(tree.path());
    for (const std::string& path : {victim, partner}) {
      FileStatus status;
      ASSERT_TRUE(StatusAt(AT_FDCWD, path.c_str(), true, status));
      form.ListBox7().Add(fs::path(path).filename());
      form.ListBox8().Add(fs::path(path).parent_path().string() + "/");
      form.ListBox9().Add(DigestToText(DigestOfFile(path)));
      form.result_files.push_back(form.recorded_files.Keep(status));
    }

    Gate read;
    const std::string victim_name = fs::path(victim).filename();
    ScopedCallHook hook([&](Call call, int folder, const char* path) {
      if (call == Call::kOpen && path == victim_name && folder != AT_FDCWD) read.Open();
    });
    bool deleted = false;
    form.on_process_messages = [&] {
      if (deleted) return;
      deleted = true;
      read.Wait();  // it has been read ahead
      form.ListBox7().SetItemIndex(0);
      DeleteSelected();
    };
    const std::string error = ErrorText([&] { ScanFolder(tree.path()); });
    ASSERT_TRUE(deleted);
    if (in_subfolder) {
      EXPECT_EQ(error, "<no error>");
      EXPECT_EQ(form.ListBox1().Count(), files);
    } else {
      EXPECT_EQ(error, "Cannot open file \"" + victim + "\". No such file or directory");
    }
    ClearLists(form);
  }
}

// A file that another part of the program reads, under its lock, is read
// under that lock, neither refused nor waited for.
TEST_F(ReadAheadTest, FileLockedByThisProgramIsReadUnderItsLock) {
  TempDir tree;
  for (int i = 0; i < 5; ++i)
    tree.File("f" + std::to_string(i), "content " + std::to_string(i));
  const Scanned expected = ReadOneByOne(tree.path());
  const FileStream held(tree.folder() + "f3");
  EXPECT_EQ(Scan(tree.path()), expected);
}

// A search that ends with an error while large files are being read leaves
// no file open and none locked.
TEST_F(ReadAheadTest, SearchEndingWhileLargeFilesAreReadClosesEveryFile) {
  TempDir tree;
  for (int i = 0; i < 12; ++i)
    tree.File("f" + std::to_string(i), std::string(std::size_t{4} << 20, 'a' + i));
  const Strings listed = Listing(tree.path());
  const auto before = OpenDescriptors();
  {
    FileLock lock(tree.folder() + listed[3]);
    EXPECT_EQ(ErrorText([&] { ScanFolder(tree.path()); }), LockedError(tree.folder() + listed[3]));
  }
  EXPECT_EQ(Lingering(), 0u);
  EXPECT_EQ(OpenDescriptors(), before);
  for (const std::string& name : listed)
    EXPECT_NO_THROW(FileLock lock(tree.folder() + name)) << name;
}

// With few descriptors to spare, the scan still reads every file: thousands
// of files in a few folders, and a chain of hundreds of nested folders; read
// ahead where the limit leaves room for it, by the window alone where not.
TEST_F(ReadAheadTest, FewDescriptorsAreEnough) {
  TempDir tree;
  for (int i = 0; i < 3000; ++i)
    tree.File("d" + std::to_string(i % 10) + "/f" + std::to_string(i), std::to_string(i % 7));
  tree.Chain("chain", 600, "x");
  for (const rlim_t limit : {64, 200}) {
    const std::string outcome = InChild([&] {
      const rlimit few{limit, limit};
      if (::setrlimit(RLIMIT_NOFILE, &few) != 0) return std::string("<no limit>");
      const std::string error = ErrorText([&] { ScanFolder(tree.path()); });
      return error + " " + std::to_string(form.ListBox3().Count());
    });
    EXPECT_EQ(outcome, "<no error> " + std::to_string(3000 + 601)) << limit;
  }
}

}  // namespace
}  // namespace dupfind::test
