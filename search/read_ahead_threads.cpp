#include "search/read_ahead_threads.h"

#include <chrono>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "digest/file_error.h"
#include "digest/md5_lanes.h"
#include "search/main_form.h"

namespace dupfind {
namespace {

// Steps handed to the window at once, at most; a folder entered or left
// hands over what came before it at once.
constexpr std::size_t kStepBatch = 64;

// Ends the walk in the queue, with `error` unless it is empty, and wakes the
// window if it waits for the next step.
void EndWalk(ReadAheadQueue& queue, std::string error, bool gave_up) {
  bool wake;
  {
    const std::lock_guard<SpinningMutex> guard(queue.mutex);
    queue.walk_ended = true;
    queue.walk_error = std::move(error);
    queue.walk_gave_up = gave_up;
    wake = queue.window_waits && queue.steps.empty();
  }
  if (wake) queue.form.WakeUp();
}

class Walker {
 public:
  Walker(ReadAheadQueue& queue, std::stop_token stop) : queue_(queue), stop_(std::move(stop)) {}

  void Add(WalkStep step) {
    const bool boundary = step.kind != WalkStep::Kind::kFile;
    QueuedStep queued{std::move(step), nullptr};
    if (queued.walk.kind == WalkStep::Kind::kFile) {
      queued.file = std::make_shared<FileRead>(queued.walk.file, files_++);
    }
    batch_.push_back(std::move(queued));
    if (boundary || batch_.size() >= kStepBatch) Hand();
  }

  // Hands the batch to the window; false when stop is requested.
  bool Hand() {
    if (batch_.empty()) return !stop_.stop_requested();
    bool wake;
    {
      std::unique_lock<SpinningMutex> lock(queue_.mutex);
      const bool room =
          queue_.steps.empty() ||
          (queue_.steps.size() + batch_.size() <= kStepsAhead &&
           static_cast<std::size_t>(queue_.open_folders->load()) < queue_.folder_budget);
      if (!room) {
        queue_.walker_waits = true;
        const bool go_on =
            queue_.for_walker.wait(lock, stop_, [this] { return queue_.WalkerMayGoOn(); });
        queue_.walker_waits = false;
        if (!go_on) return false;
      }
      wake = queue_.window_waits && queue_.steps.empty();
      bool files = false;
      for (QueuedStep& queued : batch_) {
        files = files || queued.file != nullptr;
        queue_.unclaimed += queued.file != nullptr;
        queue_.steps.push_back(std::move(queued));
      }
      if (files) queue_.OfferFiles();
    }
    batch_.clear();
    if (wake) queue_.form.WakeUp();
    return true;
  }

 private:
  ReadAheadQueue& queue_;
  std::stop_token stop_;
  std::vector<QueuedStep> batch_;
  std::uint64_t files_ = 0;  // file steps so far: the next one's place
};

}  // namespace

void WalkAhead(std::stop_token stop, ReadAheadQueue& queue, ThreadMark& mark, FolderWalk walk,
               std::string enter_first) {
  Walker walker(queue, stop);
  std::string error;
  bool gave_up = false;
  const auto next = [&](WalkStep& step) {
    const WaitingCall waiting(mark);
    return walk.Next(step);
  };
  try {
    WalkStep step;
    if (!enter_first.empty()) {
      const WaitingCall waiting(mark);
      if (walk.EnterFolder(enter_first, step)) walker.Add(std::move(step));
    }
    while (next(step)) {
      walker.Add(std::move(step));
      if (stop.stop_requested()) return;
    }
  } catch (const FileSystemError& failure) {
    gave_up = IsResourceShortage(failure.ErrorNumber());
    if (!gave_up) error = failure.what();
  } catch (const Error& failure) {
    try {
      error = failure.what();
    } catch (const std::bad_alloc&) {
      gave_up = true;
    }
  } catch (const std::bad_alloc&) {
    gave_up = true;
  }
  // The steps before the one that failed are the window's; then the end.
  if (!walker.Hand()) return;
  EndWalk(queue, std::move(error), gave_up);
}

namespace {

// Opens the file of an open task: the outcome when that ends its work,
// otherwise its stream, open and locked.
void Opened(FileTask& task, OpenedEntry opened) {
  FileRead& file = *task.file;
  if (opened.kind == FileOutcome::Kind::kFile) {
    const FileStatus status = opened.file.status;
    task.status = status;
    try {
      file.stream.emplace(file.entry.Path(), std::move(opened.file));
    } catch (const Error& error) {  // another program holds it locked
      task.outcome = FileOutcome{FileOutcome::Kind::kFile, status, {}, error.what()};
    }
  } else if (opened.kind == FileOutcome::Kind::kUnopened &&
             IsResourceShortage(opened.error_number)) {
    task.resources_short = true;
  } else {
    task.outcome = FileOutcome{opened.kind, {}, {}, std::move(opened.error)};
  }
}

// Files a worker holds at once, at least: where the MD5 engine has fewer
// lanes, the files take turns in them.
constexpr std::size_t kSlotsAtLeast = 16;

// A worker's files, each in a slot from its claim until its outcome is handed
// over; their digests run side by side in the lanes of one MD5 engine.
class FileWorker {
 public:
  FileWorker(std::stop_token stop, ReadAheadQueue& queue, std::size_t index)
      : stop_(std::move(stop)),
        queue_(queue),
        index_(index),
        engine_(queue.kernel),
        slots_(std::max(kSlotsAtLeast, engine_.Lanes())),
        lane_taken_(engine_.Lanes(), false) {}

  void Run() {
    std::unique_lock<SpinningMutex> lock(queue_.mutex);
    for (;;) {
      const bool wake = Exchange();
      if (!HasWork()) {
        const auto more = [this] {
          return !queue_.workers[index_].finished.empty() ||
                 (FreeSlots() != 0 && queue_.Claimable(slots_.size() - FreeSlots()));
        };
        queue_.workers[index_].waits = true;
        if (wake) {
          lock.unlock();
          queue_.form.WakeUp();
          lock.lock();
        }
        const bool stopped = !queue_.workers[index_].wake.wait(lock, stop_, more);
        queue_.workers[index_].waits = false;
        if (stopped) return;
        continue;
      }
      lock.unlock();
      if (wake) queue_.form.WakeUp();
      Act();
      if (stop_.stop_requested()) return;
      lock.lock();
    }
  }

 private:
  enum class Phase {
    kFree,
    kToOpen,   // claimed
    kWaiting,  // a helper runs a task of it
    kOpen,     // being read and digested
    kEnded,    // `outcome` (or `resources_short`) is what became of it
  };
  struct Slot {
    std::shared_ptr<FileRead> file;
    Phase phase = Phase::kFree;
    FileStatus status;                       // as opened
    std::shared_ptr<std::uint8_t[]> buffer;  // kChunkSize bytes, made on first use
    std::optional<std::size_t> lane;         // the engine lane it is in
    MD5Context progress{};                   // its digest so far, out of the lanes
    bool started = false;
    bool to_supply = false;  // `size` bytes of `buffer` read, not yet given to the lane
    std::size_t size = 0;
    bool last = false;
    std::uint64_t unread = 0;  // bytes of it left to read
    bool slow = false;         // as FileRead::slow
    std::optional<FileOutcome> outcome;
    bool resources_short = false;
  };

  std::size_t FreeSlots() const {
    return static_cast<std::size_t>(std::count_if(
        slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.phase == Phase::kFree; }));
  }

  // Under the lock: hands over what ended, hands tasks to the helpers, takes
  // those they finished and claims files for free slots. True when the window
  // waits for a file handed over.
  bool Exchange() {
    bool wake = false;
    for (Slot& slot : slots_) {
      FileRead* file = slot.file.get();
      if (file != nullptr) {
        file->unread = slot.unread;
        file->slow = slot.slow;
      }
      if (slot.phase != Phase::kEnded) continue;
      if (slot.resources_short) {
        file->resources_short = true;
      } else {
        file->outcome = std::move(*slot.outcome);
      }
      wake = queue_.Finish(*file) || wake;
      slot.file.reset();
      slot.outcome.reset();
      slot.resources_short = false;
      slot.phase = Phase::kFree;
    }
    queue_.NoteHeadFirst();
    for (FileTask& task : to_help_) {
      const std::uint64_t order = task.file->order;
      queue_.tasks.emplace(order, std::move(task));
      if (queue_.helpers_waiting != 0) queue_.for_helpers.notify_one();
    }
    to_help_.clear();
    std::swap(helped_, queue_.workers[index_].finished);
    const std::size_t free = FreeSlots();
    if (free != 0) {
      std::vector<std::shared_ptr<FileRead>> claimed = queue_.Claim(slots_.size() - free, free);
      auto next = claimed.begin();
      for (Slot& slot : slots_) {
        if (next == claimed.end()) break;
        if (slot.phase != Phase::kFree) continue;
        slot.file = std::move(*next++);
        slot.phase = Phase::kToOpen;
        slot.started = false;
        slot.to_supply = false;
        slot.last = false;
        slot.unread = 0;
        slot.slow = false;
      }
    }
    return wake;
  }

  bool HasWork() const {
    if (!helped_.empty()) return true;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      const Slot& slot = slots_[i];
      if (slot.phase == Phase::kToOpen || slot.phase == Phase::kEnded) return true;
      if (slot.phase == Phase::kOpen && (slot.to_supply || NeedsData(slot))) return true;
      if (slot.lane && engine_.State(*slot.lane) == LaneState::kHasInput) return true;
    }
    return false;
  }

  bool NeedsData(const Slot& slot) const {
    return slot.phase == Phase::kOpen && !slot.to_supply && !slot.last &&
           (!slot.lane || engine_.State(*slot.lane) == LaneState::kNeedsMore);
  }

  // Outside the lock: takes in what the helpers did, opens and reads what it
  // can from memory and asks the helpers for the rest, then digests.
  // Runs the lanes again and again, reading more as they run out, until a
  // file ends (to be handed over, and its slot filled) or needs a helper.
  void Act() {
    for (FileTask& task : helped_)
      TakeIn(task);
    helped_.clear();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].phase == Phase::kToOpen) Open(i);
    }
    const auto ended = [&] {
      return std::any_of(slots_.begin(), slots_.end(),
                         [](const Slot& slot) { return slot.phase == Phase::kEnded; });
    };
    // A file that ended (digested, failed or short of resources) goes over
    // at once: the window may be waiting for it.
    while (!ended() && to_help_.empty()) {
      for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (NeedsData(slots_[i])) Read(i);
      }
      for (Slot& slot : slots_) {
        if (slot.to_supply) Supply(slot);
      }
      if (!engine_.Run()) break;
      for (Slot& slot : slots_) {
        if (!slot.lane) continue;
        const LaneState state = engine_.State(*slot.lane);
        if (state == LaneState::kDone) {
          const Digest digest = engine_.Take(*slot.lane);
          LeaveLane(slot);
          End(slot, FileOutcome{FileOutcome::Kind::kFile, slot.status, digest, {}});
        } else if (state == LaneState::kNeedsMore && slots_.size() > engine_.Lanes()) {
          slot.progress = engine_.Suspend(*slot.lane);
          LeaveLane(slot);
        }
      }
      if (stop_.stop_requested()) return;
    }
  }

  void Open(std::size_t i) {
    Slot& slot = slots_[i];
    const FileEntry& entry = slot.file->entry;
    if (!entry.folder->memory_first || entry.follow_link) return Help(i, FileTask::Kind::kOpen);
    OpenedEntry opened = OpenEntry(entry, OpenWait::kIfCached);
    if (opened.would_wait) return Help(i, FileTask::Kind::kOpen);
    FileTask task = Task(FileTask::Kind::kOpen, i);
    Opened(task, std::move(opened));
    TakeIn(task);
  }

  void Read(std::size_t i) {
    Slot& slot = slots_[i];
    if (!slot.file->entry.folder->memory_first || slot.file->entry.follow_link) {
      return Help(i, FileTask::Kind::kRead);
    }
    FileTask task = Task(FileTask::Kind::kRead, i);
    try {
      const std::optional<std::size_t> got =
          slot.file->stream->ReadIfCached(task.buffer.get(), kChunkSize);
      if (!got) return Help(i, FileTask::Kind::kRead);
      task.got = *got;
      task.last = slot.file->stream->AtEnd();
    } catch (const Error& error) {
      task.outcome = FileOutcome{FileOutcome::Kind::kFile, {}, {}, error.what()};
    }
    if (task.last || task.outcome) slot.file->stream.reset();
    TakeIn(task);
  }

  FileTask Task(FileTask::Kind kind, std::size_t i) {
    FileTask task;
    task.kind = kind;
    task.file = slots_[i].file;
    task.worker = index_;
    task.slot = i;
    task.buffer = Buffer(slots_[i]);
    return task;
  }

  void Help(std::size_t i, FileTask::Kind kind) {
    to_help_.push_back(Task(kind, i));
    slots_[i].phase = Phase::kWaiting;
  }

  const std::shared_ptr<std::uint8_t[]>& Buffer(Slot& slot) {
    if (!slot.buffer) slot.buffer = std::make_shared_for_overwrite<std::uint8_t[]>(kChunkSize);
    return slot.buffer;
  }

  // What came of an open or a read of the slot's file.
  void TakeIn(FileTask& task) {
    Slot& slot = slots_[task.slot];
    if (task.resources_short) {
      slot.file->stream.reset();
      slot.unread = 0;
      slot.resources_short = true;
      slot.phase = Phase::kEnded;
      return;
    }
    if (task.kind == FileTask::Kind::kOpen) {
      if (task.outcome) return End(slot, std::move(*task.outcome));
      slot.status = task.status;
      slot.unread = slot.status.size;
      slot.phase = Phase::kOpen;
      if (!task.read) return;
    }
    if (task.outcome) {
      task.outcome->status = slot.status;
      if (slot.lane) {
        engine_.Cancel(*slot.lane);
        LeaveLane(slot);
      }
      return End(slot, std::move(*task.outcome));
    }
    slot.phase = Phase::kOpen;
    slot.to_supply = true;
    slot.size = task.got;
    slot.last = task.last;
    slot.unread -= std::min<std::uint64_t>(slot.unread, task.got);
    slot.slow = task.slow;
  }

  void Supply(Slot& slot) {
    if (!slot.lane) {
      const auto idle = std::find(lane_taken_.begin(), lane_taken_.end(), false);
      if (idle == lane_taken_.end()) return;  // its turn comes when a lane is free
      slot.lane = static_cast<std::size_t>(idle - lane_taken_.begin());
      *idle = true;
      if (slot.started) {
        engine_.Resume(*slot.lane, slot.progress);
      } else {
        engine_.Start(*slot.lane);
        slot.started = true;
      }
    }
    engine_.Supply(*slot.lane, slot.buffer.get(), slot.size, slot.last);
    slot.to_supply = false;
  }

  void LeaveLane(Slot& slot) {
    lane_taken_[*slot.lane] = false;
    slot.lane.reset();
  }

  void End(Slot& slot, FileOutcome outcome) {
    slot.file->stream.reset();
    slot.unread = 0;
    slot.outcome = std::move(outcome);
    slot.phase = Phase::kEnded;
  }

  std::stop_token stop_;
  ReadAheadQueue& queue_;
  const std::size_t index_;
  Md5Lanes engine_;
  std::vector<Slot> slots_;
  std::vector<bool> lane_taken_;
  std::vector<FileTask> to_help_;  // tasks for the helpers, handed over at the next exchange
  std::vector<FileTask> helped_;   // tasks the helpers ran, to take in
};

// Runs `task` for its worker: an open, or a read that may wait for the disk.
void RunTask(FileTask& task, ThreadMark& mark) {
  FileRead& file = *task.file;
  const WaitingCall waiting(mark);
  try {
    if (task.kind == FileTask::Kind::kOpen) {
      Opened(task, OpenEntry(file.entry));
      if (task.outcome || task.resources_short || !task.buffer) return;
    }
    task.read = true;
    try {
      const auto start = std::chrono::steady_clock::now();
      task.got = file.stream->Read(task.buffer.get(), kChunkSize);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      task.slow = task.got != 0 && task.got < took.count() * kSlowDiskBytesPerSecond;
      task.last = file.stream->AtEnd();
    } catch (const Error& error) {
      task.outcome = FileOutcome{FileOutcome::Kind::kFile, {}, {}, error.what()};
    }
    if (task.last || task.outcome) file.stream.reset();
  } catch (const std::bad_alloc&) {
    file.stream.reset();
    task.resources_short = true;
  }
}

}  // namespace

void WorkOnFiles(std::stop_token stop, ReadAheadQueue& queue, std::size_t index) {
  FileWorker(std::move(stop), queue, index).Run();
}

void HelpWorkers(std::stop_token stop, ReadAheadQueue& queue, ThreadMark& mark) {
  std::unique_lock<SpinningMutex> lock(queue.mutex);
  // While the window waits for a file with much left to read, only its tasks
  // run; they are the earliest, as tasks go by walk order.
  const auto runnable = [&] {
    return !queue.tasks.empty() &&
           (!queue.HeadFirst() || queue.tasks.begin()->second.file == queue.steps.front().file);
  };
  for (;;) {
    ++queue.helpers_waiting;
    const bool woken = queue.for_helpers.wait(lock, stop, runnable);
    --queue.helpers_waiting;
    if (!woken) return;
    FileTask task = std::move(queue.tasks.begin()->second);
    queue.tasks.erase(queue.tasks.begin());
    lock.unlock();
    RunTask(task, mark);
    lock.lock();
    ReadAheadQueue::Worker& worker = queue.workers[task.worker];
    worker.finished.push_back(std::move(task));
    if (worker.waits) worker.wake.notify_one();
  }
}
}  // namespace dupfind
