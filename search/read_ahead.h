#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "digest/md5_lanes.h"
#include "search/file_work.h"
#include "search/folder_walk.h"
#include "search/read_ahead_queue.h"

namespace dupfind {

class MainForm;

// Tells every read-ahead that the program itself has changed files on disk
// (the delete command): what was listed or read before may no longer be what
// a walk would find there now.
void NoteFilesChanged();

// A step of a scan: what the walk did and, for a file, what became of it.
struct ScanStep {
  WalkStep walk;
  FileOutcome outcome;
};

// Walks a folder and reads its files for one scan, ahead of the window, on
// threads of its own: a walker, readers (one file each at a time) and
// digesters (many files side by side in MD5 lanes); see ReadAheadQueue.
//
// The window takes the steps one by one with Next, and sees what it would
// see walking and reading each file itself when it meets it: the same steps
// in the same order, each file's outcome as reading it then would give.
// That holds because
// - only the walker lists folders, each once, and the steps come to the
//   window in the order it took them;
// - the window keeps the walker's position as of the last step it took
//   (WalkPosition::Apply), and when the program itself changes files
//   (NoteFilesChanged) or a file turns out to be a folder, everything read
//   ahead is dropped and a new walk goes on from that position, listing again
//   every folder the window has not entered yet;
// - where the threads cannot be started or run short of descriptors or
//   memory, the window walks and reads on its own from where it stands.
//
// While the step it needs is not done, Next waits in the window's own wait
// (MainForm::AwaitMessages), so the window answers and the user's commands
// run as they would after a file, and the thread that finishes the step
// wakes it. The file the window waits for is read first: while it has much
// left to read, the other files are read only from memory.
class ReadAhead {
 public:
  // Starts at `folder`, a folder text ending in "/".
  ReadAhead(MainForm& form, std::string folder);
  // Stops the threads and waits for them to end. Those held up inside a
  // call to the system for a while are left to the form's lingering threads:
  // they close their file and end when the call returns.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next step; false at the end. Throws the walk's error where the walk
  // met it.
  bool Next(ScanStep& step);

  // Walks the entry `name` of the folder the last step was taken in, a file
  // that turned out to be a folder when it was opened, before the next step.
  void EnterFolder(const std::string& name);

 private:
  void Start(FolderWalk walk, std::string enter_first);
  template <typename Run>
  void Spawn(Run run);
  void Stop();
  void Restart(std::string enter_first);
  // Stops the threads; the window walks and reads on its own from here,
  // entering the folder `enter_first` first when one is named.
  void ReadAlone(const std::string& enter_first = "");
  FolderWalk WalkFromHere() const;
  bool NextAlone(ScanStep& step);
  // Moves the done steps at the front of the queue to `ready_`, or waits;
  // false when the walk has ended.
  bool TakeDone();

  MainForm& form_;
  const std::string folder_;
  const Md5Kernel kernel_;
  std::uint64_t changes_;  // NoteFilesChanged calls before the walk began
  WalkPosition position_;  // where the window stands in the walk
  bool started_ = false;   // the window has taken the walk's first step

  std::shared_ptr<ReadAheadQueue> queue_;  // none while the window reads alone
  struct Thread {
    std::jthread thread;
    std::shared_ptr<ThreadMark> mark;
  };
  std::vector<Thread> threads_;
  std::deque<QueuedStep> ready_;     // done steps taken from the queue, the window's alone
  std::optional<FolderWalk> alone_;  // the window's own walk, where it reads alone
};

}  // namespace dupfind
