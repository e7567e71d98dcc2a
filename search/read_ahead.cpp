#include "search/read_ahead.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "digest/md5_lanes.h"

namespace dupfind {
namespace {

std::atomic<std::uint64_t> files_changed{0};

// One file read ahead of the walk.
struct Slot {
  FileEntry entry;  // its folder is let go once the file is done
  FileIdentity folder_identity;
  std::uint64_t changes = 0;  // files_changed before it was opened
  bool done = false;
  FileOutcome outcome;

  bool SameAs(const FileEntry& other) const {
    return folder_identity == other.folder->identity && entry.name == other.name &&
           entry.follow_link == other.follow_link && entry.error == other.error;
  }
};

}  // namespace

void NoteFilesChanged() {
  ++files_changed;
}

struct ReadAhead::State {
  std::optional<FolderWalk> walk;  // its own walk, ahead of the taker's; none once it ended
  std::deque<std::shared_ptr<Slot>> slots;  // in walk order
  std::size_t next_to_start = 0;            // the slots before it are taken by workers
  std::size_t in_flight = 0;                // slots of this read-ahead being worked on
  std::atomic<bool> stopping{false};

  // The walk's next file as a new slot; none when enough are ahead already,
  // or at the walk's end.
  std::shared_ptr<Slot> Advance() {
    if (!walk || slots.size() >= kFilesAhead) return nullptr;
    FileEntry entry;
    try {
      if (!walk->Next(entry)) {
        walk.reset();
        return nullptr;
      }
    } catch (...) {
      walk.reset();  // the taker's own walk meets the error when it gets there
      return nullptr;
    }
    auto slot = std::make_shared<Slot>();
    slot->folder_identity = entry.folder->identity;
    slot->entry = std::move(entry);
    slots.push_back(slot);
    return slot;
  }

  void Restart(const FolderWalk& from) {
    slots.clear();  // workers finish the ones they hold for nobody
    next_to_start = 0;
    walk.emplace(from);
  }
};

namespace {

// The worker threads, shared by every read-ahead; the innermost (latest)
// read-ahead is served first, so a search run from inside another's scan
// does not wait behind it.
class Workers {
 public:
  static Workers& Get();

  std::mutex mutex;
  std::condition_variable work;      // workers wait here for files
  std::condition_variable progress;  // takers and stopping read-aheads wait here
  std::vector<ReadAhead::State*> active;

 private:
  struct Task {
    std::shared_ptr<Slot> slot;
    ReadAhead::State* owner = nullptr;
  };
  struct Lane {
    Task task;
    std::unique_ptr<FileStream> stream;
    std::vector<std::uint8_t> buffer;
    FileOutcome outcome;
  };

  Workers();
  void Run();
  Task NextTask();
  void Begin(Md5Lanes& engine, std::size_t index, Lane& lane);
  void Feed(Md5Lanes& engine, std::size_t index, Lane& lane);
  void Finish(Lane& lane);

  Md5Kernel kernel_;
  std::size_t lanes_ = 1;   // per worker
  std::size_t chunk_ = 0;   // bytes read at once into a lane

};

Workers::Workers() : kernel_(KernelFromEnvironment()) {
  const std::size_t workers = std::max(1u, std::thread::hardware_concurrency());
  lanes_ = std::clamp<std::size_t>(kFilesInFlight / workers, 1, Md5Lanes(kernel_).Lanes());
  chunk_ = std::min<std::size_t>(std::size_t{1} << 20, kReadAheadMemory / (workers * lanes_));
  chunk_ -= chunk_ % 4096;
  for (std::size_t i = 0; i < workers; ++i)
    std::thread([this] { Run(); }).detach();
}

// Started on first use and never stopped: the threads wait for work until the
// program ends. A process forked from one that had workers has none of their
// threads, and starts workers of its own (forking while a read-ahead runs is
// not supported: its files would stay locked in the copy).
Workers& Workers::Get() {
  static Workers* workers = nullptr;
  static pid_t owner = 0;
  if (workers == nullptr || owner != ::getpid()) {
    workers = new Workers;
    owner = ::getpid();
  }
  return *workers;
}

Workers::Task Workers::NextTask() {
  for (auto it = active.rbegin(); it != active.rend(); ++it) {
    ReadAhead::State& state = **it;
    if (state.stopping) continue;
    std::shared_ptr<Slot> slot;
    if (state.next_to_start < state.slots.size()) {
      slot = state.slots[state.next_to_start];
    } else {
      slot = state.Advance();
      if (!slot) continue;
    }
    ++state.next_to_start;
    ++state.in_flight;
    return {std::move(slot), &state};
  }
  return {};
}

void Workers::Run() {
  Md5Lanes engine(kernel_);
  std::vector<Lane> lanes(lanes_);
  std::unique_lock<std::mutex> guard(mutex);
  for (;;) {
    std::size_t busy = 0;
    for (std::size_t i = 0; i < lanes.size(); ++i) {
      if (lanes[i].task.slot) {
        ++busy;
        continue;
      }
      Task task = NextTask();
      if (!task.slot) continue;
      lanes[i].task = std::move(task);
      ++busy;
      guard.unlock();
      Begin(engine, i, lanes[i]);
      guard.lock();
    }
    if (busy == 0) {
      work.wait(guard);
      continue;
    }
    guard.unlock();
    engine.Run();
    for (std::size_t i = 0; i < lanes.size(); ++i) {
      if (!lanes[i].task.slot) continue;
      if (engine.State(i) == LaneState::kDone) {
        lanes[i].outcome.digest = engine.Take(i);
        Finish(lanes[i]);
      } else if (engine.State(i) == LaneState::kNeedsMore) {
        Feed(engine, i, lanes[i]);
      }
    }
    guard.lock();
  }
}

// Opens the lane's file and gives the engine its first piece.
void Workers::Begin(Md5Lanes& engine, std::size_t index, Lane& lane) {
  const FileEntry& entry = lane.task.slot->entry;
  lane.task.slot->changes = files_changed;
  lane.outcome = {};
  try {
    OpenedEntry opened = OpenEntry(entry);
    lane.outcome.kind = opened.kind;
    lane.outcome.error = std::move(opened.error);
    if (opened.kind == FileOutcome::Kind::kFile) {
      lane.outcome.identity = IdentityOf(opened.file.status);
      lane.stream = std::make_unique<FileStream>(entry.Path(), std::move(opened.file), LockWait::kNever);
      if (lane.buffer.empty()) lane.buffer.resize(chunk_);
      engine.Start(index);
      Feed(engine, index, lane);
      return;
    }
  } catch (const FileBusy&) {
    lane.outcome.kind = FileOutcome::Kind::kBusy;
  } catch (const Error& error) {
    lane.outcome.error = error.what();  // the lock was refused
  } catch (...) {
    lane.outcome.kind = FileOutcome::Kind::kBusy;  // the taker tries it itself
  }
  Finish(lane);
}

// Reads the lane's next piece and gives it to the engine.
void Workers::Feed(Md5Lanes& engine, std::size_t index, Lane& lane) {
  try {
    while (engine.State(index) == LaneState::kNeedsMore) {
      if (lane.task.owner->stopping) {
        engine.Cancel(index);
        break;
      }
      FileStream& stream = *lane.stream;
      const std::size_t got = stream.Read(lane.buffer.data(), lane.buffer.size());
      const bool last = got == 0 || (stream.Size() != 0 && stream.Position() == stream.Size());
      engine.Supply(index, lane.buffer.data(), got, last);
    }
    if (engine.State(index) != LaneState::kIdle) return;
  } catch (const Error& error) {
    engine.Cancel(index);
    lane.outcome.error = error.what();
  } catch (...) {
    engine.Cancel(index);
    lane.outcome.kind = FileOutcome::Kind::kBusy;
  }
  Finish(lane);
}

// Closes the lane's file, then hands its outcome over.
void Workers::Finish(Lane& lane) {
  lane.stream.reset();
  Task task = std::move(lane.task);
  lane.task = {};
  {
    const std::lock_guard<std::mutex> guard(mutex);
    task.slot->outcome = std::move(lane.outcome);
    task.slot->done = true;
    task.slot->entry.folder.reset();
    --task.owner->in_flight;
  }
  progress.notify_all();
}

}  // namespace

ReadAhead::ReadAhead(const FolderWalk& walk) : state_(std::make_unique<State>()) {
  Workers& workers = Workers::Get();
  {
    const std::lock_guard<std::mutex> guard(workers.mutex);
    state_->walk.emplace(walk);
    workers.active.push_back(state_.get());
  }
  workers.work.notify_all();
}

ReadAhead::~ReadAhead() {
  Workers& workers = Workers::Get();
  std::unique_lock<std::mutex> guard(workers.mutex);
  state_->stopping = true;
  state_->slots.clear();
  workers.progress.wait(guard, [this] { return state_->in_flight == 0; });
  workers.active.erase(std::find(workers.active.begin(), workers.active.end(), state_.get()));
}

std::optional<FileOutcome> ReadAhead::Take(const FileEntry& entry, const FolderWalk& walk) {
  Workers& workers = Workers::Get();
  std::unique_lock<std::mutex> guard(workers.mutex);
  State& state = *state_;
  if (state.slots.empty()) {
    if (!state.Advance()) {
      state.Restart(walk);
      workers.work.notify_all();
      return std::nullopt;
    }
    workers.work.notify_one();
  }
  const std::shared_ptr<Slot> head = state.slots.front();
  if (!head->SameAs(entry)) {
    state.Restart(walk);
    workers.work.notify_all();
    return std::nullopt;
  }
  workers.progress.wait(guard, [&] { return head->done; });
  state.slots.pop_front();
  if (state.next_to_start > 0) --state.next_to_start;
  workers.work.notify_one();  // room for one more
  if (head->changes != files_changed) {
    state.Restart(walk);
    workers.work.notify_all();
    return std::nullopt;
  }
  if (head->outcome.kind == FileOutcome::Kind::kBusy) return std::nullopt;
  return std::move(head->outcome);
}

}  // namespace dupfind
