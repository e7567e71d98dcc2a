#include "search/read_ahead.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <system_error>
#include <utility>

#include "digest/error.h"
#include "search/main_form.h"
#include "search/read_ahead_threads.h"

namespace dupfind {
namespace {

std::atomic<std::uint64_t> files_changed{0};

// Helpers at most: the file operations that may wait, run at once.
constexpr std::size_t kHelpers = 16;
// Files a worker holds open at most: as many as the widest MD5 engine's lanes.
constexpr std::size_t kFilesPerWorker = Md5Lanes::kMaxLanes;
// Folders open at once at most, the walk's own path and those of the files
// read ahead together: enough to read ahead across many small folders.
constexpr std::size_t kOpenFolders = 64;
// Descriptors left to the rest of the program: the window system, and a walk
// of the window's own should the read-ahead give up.
constexpr rlim_t kDescriptorsKept = 64;
// How long a thread may have been inside a call to the system when its
// search ends before the search leaves it to end on its own.
constexpr std::chrono::milliseconds kStopWait{50};

// Descriptors the read-ahead may hold: its readers' files and the folders
// its walk has open.
std::size_t SpareDescriptors() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1024;
  return limit.rlim_cur > kDescriptorsKept ? limit.rlim_cur - kDescriptorsKept : 0;
}

}  // namespace

void NoteFilesChanged() {
  ++files_changed;
}

ReadAhead::ReadAhead(MainForm& form, std::string folder)
    : form_(form),
      folder_(std::move(folder)),
      kernel_(KernelFromEnvironment()),
      changes_(files_changed) {
  form_.lingering_threads.JoinEnded();
  Start(FolderWalk(folder_), "");
}

ReadAhead::~ReadAhead() {
  Stop();
}

void ReadAhead::Start(FolderWalk walk, std::string enter_first) {
  // Each worker holds up to a few dozen files open, a helper at most one
  // more; the walk holds its folders.
  const std::size_t spare = SpareDescriptors();
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t helpers_wanted = std::min(kHelpers, spare / 8);
  if (spare < 2 * kFilesPerWorker * cores || helpers_wanted == 0) return ReadAlone(enter_first);
  const std::string enter = enter_first;
  queue_ = std::make_shared<ReadAheadQueue>(form_, kernel_, cores,
                                            std::clamp<std::size_t>(spare / 4, 8, kOpenFolders));
  walk.CountOpenFolders(queue_->open_folders);
  const auto walker = [walk = std::move(walk), enter_first = std::move(enter_first)](
                          std::stop_token stop, ReadAheadQueue& queue, ThreadMark& mark) mutable {
    WalkAhead(std::move(stop), queue, mark, std::move(walk), std::move(enter_first));
  };
  // Fewer threads than asked for are enough if one of each kind runs.
  std::size_t workers = 0, helpers = 0;
  try {
    Spawn(std::move(walker));
  } catch (const std::system_error&) {
    return ReadAlone(enter);
  }
  try {
    for (; workers < queue_->workers.size(); ++workers) {
      Spawn([workers](std::stop_token stop, ReadAheadQueue& queue, ThreadMark&) {
        WorkOnFiles(std::move(stop), queue, workers);
      });
    }
  } catch (const std::system_error&) {
  }
  try {
    for (; helpers < helpers_wanted; ++helpers)
      Spawn(HelpWorkers);
  } catch (const std::system_error&) {
  }
  if (workers == 0 || helpers == 0) return ReadAlone(enter);
  const std::lock_guard<SpinningMutex> guard(queue_->mutex);
  queue_->running_workers = workers;
}

template <typename Run>
void ReadAhead::Spawn(Run run) {
  auto mark = std::make_shared<ThreadMark>();
  std::jthread thread([queue = queue_, mark, run = std::move(run)](std::stop_token stop) mutable {
    run(std::move(stop), *queue, *mark);
    const std::lock_guard<SpinningMutex> guard(queue->mutex);
    mark->ended = true;
    queue->for_window.notify_all();
  });
  threads_.push_back({std::move(thread), std::move(mark)});
}

void ReadAhead::Stop() {
  if (!queue_) return;
  for (Thread& thread : threads_)
    thread.thread.request_stop();
  // Every thread ends soon, unless it is held up inside a call to the system.
  const auto held_up = [](const Thread& thread) {
    const std::int64_t since = thread.mark->waiting_since;
    return since != 0 && std::chrono::steady_clock::now().time_since_epoch().count() - since >=
                             std::chrono::nanoseconds(kStopWait).count();
  };
  {
    std::unique_lock<SpinningMutex> lock(queue_->mutex);
    queue_->window_waits = false;
    while (!std::all_of(threads_.begin(), threads_.end(), [&](const Thread& thread) {
      return thread.mark->ended || held_up(thread);
    })) {
      queue_->for_window.wait_for(lock, kStopWait / 5);
    }
  }
  for (Thread& thread : threads_) {
    if (!thread.mark->ended) {
      auto ended = std::shared_ptr<const std::atomic<bool>>(thread.mark, &thread.mark->ended);
      form_.lingering_threads.Adopt(std::move(thread.thread), std::move(ended));
    }
  }
  threads_.clear();  // joins those that have ended
  ready_.clear();
  queue_.reset();
}

FolderWalk ReadAhead::WalkFromHere() const {
  return started_ ? FolderWalk(position_) : FolderWalk(folder_);
}

void ReadAhead::Restart(std::string enter_first) {
  Stop();
  Start(WalkFromHere(), std::move(enter_first));
}

void ReadAhead::ReadAlone(const std::string& enter_first) {
  Stop();
  alone_.emplace(WalkFromHere());
  if (!enter_first.empty()) {
    WalkStep step;
    alone_->EnterFolder(enter_first, step);
  }
}

bool ReadAhead::Next(ScanStep& step) {
  for (;;) {
    if (alone_) return NextAlone(step);
    if (changes_ != files_changed) {
      changes_ = files_changed;
      Restart("");
      continue;
    }
    if (ready_.empty() && !TakeDone()) return false;
    if (ready_.empty()) continue;  // woken; look again
    QueuedStep queued = std::move(ready_.front());
    ready_.pop_front();
    if (queued.file && queued.file->resources_short) {
      ReadAlone();  // from this step on
      continue;
    }
    position_.Apply(queued.walk);
    started_ = true;
    step.walk = std::move(queued.walk);
    step.outcome = queued.file ? std::move(queued.file->outcome) : FileOutcome{};
    return true;
  }
}

bool ReadAhead::TakeDone() {
  ReadAheadQueue& queue = *queue_;
  std::unique_lock<SpinningMutex> lock(queue.mutex);
  while (!queue.steps.empty() && queue.steps.front().Done()) {
    ready_.push_back(std::move(queue.steps.front()));
    queue.steps.pop_front();
    if (queue.claimed != 0) --queue.claimed;
  }
  if (!ready_.empty()) {
    queue.NoteHeadFirst();
    if (queue.walker_waits && queue.WalkerMayGoOn()) queue.for_walker.notify_all();
    return true;
  }
  if (queue.steps.empty() && queue.walk_ended) {
    if (queue.walk_gave_up) {
      lock.unlock();
      ReadAlone();
      return true;
    }
    if (queue.walk_error.empty()) return false;
    const Error error(queue.walk_error);
    lock.unlock();
    Stop();
    throw error;
  }
  queue.window_waits = true;
  queue.NoteHeadFirst();
  lock.unlock();
  form_.AwaitMessages(MainForm::UserInput::kHandle);
  lock.lock();
  queue.window_waits = false;
  queue.NoteHeadFirst();
  return true;
}

bool ReadAhead::NextAlone(ScanStep& step) {
  if (!alone_->Next(step.walk)) return false;
  step.outcome =
      step.walk.kind == WalkStep::Kind::kFile ? ReadEntry(step.walk.file) : FileOutcome{};
  return true;
}

void ReadAhead::EnterFolder(const std::string& name) {
  if (alone_) {
    WalkStep step;
    alone_->EnterFolder(name, step);
    return;
  }
  Restart(name);
}

}  // namespace dupfind
