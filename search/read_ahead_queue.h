#pragma once

#include <pthread.h>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "digest/file_stream.h"
#include "digest/md5_lanes.h"
#include "search/file_work.h"
#include "search/folder_walk.h"

namespace dupfind {

class MainForm;

// What a read-ahead thread shows the window of itself, for the window to know
// whether to wait for it when the search ends.
struct ThreadMark {
  std::atomic<bool> ended{false};  // set under ReadAheadQueue::mutex
  // Since when (steady clock, nanoseconds) the thread is inside a call that
  // may keep it waiting on a disk or a server; 0 while it is not.
  std::atomic<std::int64_t> waiting_since{0};
};

// Marks the thread of `mark` as inside such a call while it lives.
class WaitingCall {
 public:
  explicit WaitingCall(ThreadMark& mark);
  ~WaitingCall();
  WaitingCall(const WaitingCall&) = delete;
  WaitingCall& operator=(const WaitingCall&) = delete;

 private:
  ThreadMark& mark_;
};

// Bytes read at once: large enough for few calls, small enough that the data
// is still in the processor's caches when it is digested.
inline constexpr std::size_t kChunkSize = std::size_t{64} << 10;
// Steps the walk goes ahead of the window, at most.
inline constexpr std::size_t kStepsAhead = 4096;
// While the window waits for a file with more than this left to read, from
// a disk slower than the digests, the helpers read no other file: the disk is
// the waited file's. From a disk faster than that, many files read side by
// side are digested side by side, and all come sooner.
inline constexpr std::uint64_t kHeadFirstBytes = std::uint64_t{1} << 20;
// A disk is slower than the digests when it reads fewer bytes than this a
// second (one lane digests about three times as many).
inline constexpr std::uint64_t kSlowDiskBytesPerSecond = std::uint64_t{256} << 20;

// One file of the walk, from its claim by a worker to its outcome.
struct FileRead {
  FileRead(FileEntry file, std::uint64_t order) : entry(std::move(file)), order(order) {}

  const FileEntry entry;
  const std::uint64_t order;  // its place in the walk

  // Guarded by ReadAheadQueue::mutex.
  bool done = false;             // `outcome` is complete
  bool resources_short = false;  // done without an outcome: the window reads it itself
  std::uint64_t unread = 0;      // bytes left to read, once it is open
  bool slow = false;             // its last read that waited for the disk was slow
  FileOutcome outcome;

  // The one thread working on the file reads and writes these: the worker
  // that claimed it, or a helper running a task for it.
  std::optional<FileStream> stream;  // open from the open to the last read
};

// An operation on a file that may keep the system waiting (opening it on a
// file system that cannot say whether it would, or reading what is not in
// memory), run by a helper for the worker that holds the file.
struct FileTask {
  enum class Kind { kOpen, kRead };
  Kind kind = Kind::kOpen;
  std::shared_ptr<FileRead> file;
  std::size_t worker = 0;  // whose slot holds the file
  std::size_t slot = 0;
  // The slot's buffer, kChunkSize bytes, shared so that it outlives a worker
  // that has stopped while the read goes on. A helper that opens a file reads
  // its first chunk too, which the worker would ask for next.
  std::shared_ptr<std::uint8_t[]> buffer;

  // What came of it.
  FileStatus status;                   // kOpen: the file's, as opened
  bool read = false;                   // data was read: kRead, or kOpen and its first chunk
  std::size_t got = 0;                 // bytes read into the buffer
  bool last = false;                   // the file has been read whole, and closed
  bool slow = false;                   // the read waited long for its bytes
  std::optional<FileOutcome> outcome;  // the file's work ended with it
  bool resources_short = false;        // the file's work ended for want of resources
};

// A step of the walk on its way to the window.
struct QueuedStep {
  WalkStep walk;
  std::shared_ptr<FileRead> file;  // a file step: its reading

  bool Done() const { return !file || file->done; }
};

// What a search's read-ahead threads share with the window thread. The walker
// appends the walk's steps; workers claim the files among them in walk order,
// open, read and digest them, running on helpers the operations that may make
// the system wait; the window takes the steps from the front, each once it is
// done.
//
// One mutex guards everything below that says so; no thread makes a call to
// the file system while it holds it. Threads wait, with their stop token, on
// the condition variable named for them; whoever changes what they wait for
// notifies it.
//
// Invariants, under `mutex`:
// - `steps` holds the walk's steps in walk order, from the one the window
//   takes next. The window never takes a step before it is Done().
// - Every file step before `steps[claimed]` is claimed by a worker; none
//   after it is. A claimed file stays in one slot of its worker until it is
//   done; one thread at a time works on it: that worker, or the helper
//   running a task of it, which is in `tasks` or being run, never both.
// - `open_folders` counts the folders the walk has opened that are still
//   open; the walker opens no more once `folder_budget` are, unless the
//   window has taken every step.
// A mutex that spins a little before it sleeps, for a lock held only for
// short spells by many threads: putting a thread to sleep and waking it
// costs more than the spell.
class SpinningMutex {
 public:
  SpinningMutex();
  ~SpinningMutex();
  SpinningMutex(const SpinningMutex&) = delete;
  SpinningMutex& operator=(const SpinningMutex&) = delete;

  void lock();
  void unlock();
  bool try_lock();

 private:
  pthread_mutex_t mutex_;
};

struct ReadAheadQueue {
  ReadAheadQueue(MainForm& form, Md5Kernel kernel, std::size_t workers, std::size_t folder_budget)
      : form(form),
        kernel(kernel),
        folder_budget(folder_budget),
        workers(workers),
        running_workers(workers) {}

  MainForm& form;  // woken when the step the window waits for is done
  const Md5Kernel kernel;
  const std::size_t folder_budget;
  std::shared_ptr<std::atomic<int>> open_folders = std::make_shared<std::atomic<int>>(0);

  SpinningMutex mutex;
  // Each notified only while someone waits on it: notifying is not free.
  std::condition_variable_any for_walker;   // the window took steps
  std::condition_variable_any for_helpers;  // tasks, or the end of the head's turn
  std::condition_variable_any for_window;   // a thread has ended

  std::deque<QueuedStep> steps;     // guarded by mutex
  std::size_t claimed = 0;          // guarded by mutex
  std::size_t in_work = 0;          // guarded by mutex: files claimed and not yet done
  std::size_t unclaimed = 0;        // guarded by mutex: file steps in `steps` not claimed
  bool walk_ended = false;          // guarded by mutex: no step follows the last of `steps`
  std::string walk_error;           // guarded by mutex: the error that ended the walk there
  bool walk_gave_up = false;        // guarded by mutex: the walk ran short of resources there
  bool window_waits = false;        // guarded by mutex: for the front step, or the next
  bool walker_waits = false;        // guarded by mutex
  std::size_t helpers_waiting = 0;  // guarded by mutex

  // Tasks waiting for a helper, earliest file first. Guarded by mutex.
  std::multimap<std::uint64_t, FileTask> tasks;
  bool head_first = false;  // guarded by mutex: HeadFirst() when last noted

  struct Worker {
    std::condition_variable_any wake;  // tasks done, or files to claim
    std::vector<FileTask> finished;    // guarded by mutex
    bool waits = false;                // guarded by mutex: for either
  };
  std::deque<Worker> workers;   // one per worker thread, never resized
  std::size_t running_workers;  // guarded by mutex: those whose threads started

  // Whether the window waits for a file with much left to read. Under `mutex`.
  bool HeadFirst() const;
  // Call after changing what HeadFirst depends on: once it no longer holds,
  // the helpers run every task again. Under `mutex`.
  void NoteHeadFirst();

  // Up to `most` files to read, the next in walk order, for a worker that
  // holds `mine` already: no more than its share of those in work. Under
  // `mutex`.
  std::vector<std::shared_ptr<FileRead>> Claim(std::size_t mine, std::size_t most);
  // Whether Claim would give a worker that holds `mine` a file. Under `mutex`.
  bool Claimable(std::size_t mine);

  // Marks `file` done; true when the window waits for it and must be woken
  // (call form.WakeUp() once the lock is let go). Under `mutex`.
  bool Finish(FileRead& file);

  // Wakes a worker that waits for files to claim. Under `mutex`.
  void OfferFiles();

  // Whether a walker that found no room may go on: the window has taken
  // half the steps ahead, or all. It then hands over many batches before it
  // waits again, rather than being woken for each. Under `mutex`.
  bool WalkerMayGoOn() const;
};

}  // namespace dupfind
