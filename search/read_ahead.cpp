#include "search/read_ahead.h"

#include <pthread.h>

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

// Bytes read at once into a lane. Larger reads cost fewer calls, but the
// lanes' data then no longer fits the processor's caches between the read and
// the digest: 64 KiB took a third less time than 1 MiB on large files.
constexpr std::size_t kReadSize = std::size_t{64} << 10;

// The taker wakes once for a run of this many files done, not for each.
constexpr std::size_t kWakeRun = 64;

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

class Workers;

}  // namespace

void NoteFilesChanged() {
  ++files_changed;
}

struct ReadAhead::State {
  Workers* workers = nullptr;
  std::optional<FolderWalk> walk;  // its own walk, ahead of the taker's; none once it ended
  std::deque<std::shared_ptr<Slot>> slots;  // in walk order, shared with the workers
  std::size_t next_to_start = 0;            // the slots before it are taken by workers
  std::size_t in_flight = 0;                // slots of this read-ahead being worked on
  std::atomic<bool> stopping{false};
  bool full = false;
  const Slot* awaited[2] = {};  // the slots whose end wakes the taker

  // Slots done and moved out for the taker alone, which reads them unlocked.
  std::deque<std::shared_ptr<Slot>> ready;

  // The walk's next file as a new slot; none when enough are ahead already,
  // or at the walk's end. Once full, it waits for room for many files before
  // it goes on, so that the workers are not woken for every file taken.
  std::shared_ptr<Slot> Advance() {
    if (!walk) return nullptr;
    if (slots.size() >= kFilesAhead) full = true;
    if (full && slots.size() > kFilesAhead / 2) return nullptr;
    full = false;
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

  // Drops what was read ahead, and reads ahead of `from` instead.
  void Restart(const FolderWalk& from) {
    slots.clear();  // workers finish the ones they hold for nobody
    ready.clear();
    next_to_start = 0;
    walk.emplace(from);
  }
};

namespace {

// The worker threads, shared by every read-ahead; the innermost (latest)
// read-ahead is served first, so that a search run from inside another's scan
// does not wait behind it.
class Workers {
 public:
  static Workers& Get();

  std::mutex mutex;
  std::condition_variable work;      // workers wait here for files
  std::size_t idle = 0;              // workers waiting for files
  std::size_t claimed = 0;           // files the workers hold, all together
  std::condition_variable progress;  // takers and stopping read-aheads wait here
  std::vector<ReadAhead::State*> active;

 private:
  struct Task {
    std::shared_ptr<Slot> slot;
    ReadAhead::State* owner = nullptr;
  };
  struct Lane {
    Task task;
    std::optional<FileStream> stream;
    std::unique_ptr<std::uint8_t[]> buffer;  // pages are touched only as files fill them
    FileOutcome outcome;
    bool finished = false;
  };

  Workers();
  void Run();
  Task NextTask();
  void Begin(Md5Lanes& engine, std::size_t index, Lane& lane);
  void Feed(Md5Lanes& engine, std::size_t index, Lane& lane);
  void Publish(std::vector<Lane>& lanes);

  Md5Kernel kernel_;
  std::size_t workers_ = 1;
  std::size_t lanes_ = 1;  // per worker
  std::size_t chunk_ = 0;  // bytes read at once into a lane
};

Workers::Workers() : kernel_(KernelFromEnvironment()) {
  workers_ = std::max(1u, std::thread::hardware_concurrency());
  lanes_ = std::clamp<std::size_t>(kFilesInFlight / workers_, 1, Md5Lanes(kernel_).Lanes());
  chunk_ = std::min(kReadSize, kReadAheadMemory / (workers_ * lanes_));
  chunk_ -= chunk_ % 4096;
  for (std::size_t i = 0; i < workers_; ++i)
    std::thread([this] { Run(); }).detach();
}

Workers* workers_started = nullptr;

// Started on first use and never stopped: the threads wait for work until the
// program ends. A process forked from one that had workers has none of their
// threads, and starts workers of its own (forking while a read-ahead runs is
// not supported: its files would stay locked in the copy).
Workers& Workers::Get() {
  static const int forget_in_children =
      ::pthread_atfork(nullptr, nullptr, [] { workers_started = nullptr; });
  (void)forget_in_children;
  if (workers_started == nullptr) workers_started = new Workers;
  return *workers_started;
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
  std::vector<std::size_t> begun;
  for (;;) {
    begun.clear();
    {
      std::unique_lock<std::mutex> guard(mutex);
      for (;;) {
        std::size_t mine = 0;
        for (const Lane& lane : lanes)
          mine += lane.task.slot != nullptr;
        // A worker takes no more than its share, so that a few large files
        // are spread over all of them rather than held in one's lanes.
        for (std::size_t i = 0; i < lanes.size(); ++i) {
          if (lanes[i].task.slot) continue;
          if (mine >= (claimed + workers_) / workers_) {
            if (idle != 0) work.notify_one();
            break;
          }
          Task task = NextTask();
          if (!task.slot) break;
          lanes[i].task = std::move(task);
          begun.push_back(i);
          ++mine;
          ++claimed;
        }
        if (mine != 0) break;
        ++idle;
        work.wait(guard);
        --idle;
      }
    }
    for (const std::size_t i : begun)
      Begin(engine, i, lanes[i]);
    engine.Run();
    for (std::size_t i = 0; i < lanes.size(); ++i) {
      if (!lanes[i].task.slot || lanes[i].finished) continue;
      if (engine.State(i) == LaneState::kDone) {
        lanes[i].outcome.digest = engine.Take(i);
        lanes[i].finished = true;
      } else if (engine.State(i) == LaneState::kNeedsMore) {
        Feed(engine, i, lanes[i]);
      }
    }
    Publish(lanes);
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
      lane.outcome.status = opened.file.status;
      lane.stream.emplace(entry.Path(), std::move(opened.file), LockWait::kNever);
      if (!lane.buffer) lane.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(chunk_);
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
  lane.finished = true;
}

// Reads the lane's next pieces until the engine has a block to work on.
void Workers::Feed(Md5Lanes& engine, std::size_t index, Lane& lane) {
  try {
    while (engine.State(index) == LaneState::kNeedsMore) {
      if (lane.task.owner->stopping) {
        engine.Cancel(index);
        lane.finished = true;
        return;
      }
      FileStream& stream = *lane.stream;
      const std::size_t got = stream.Read(lane.buffer.get(), chunk_);
      const bool last = got == 0 || (stream.Size() != 0 && stream.Position() == stream.Size());
      engine.Supply(index, lane.buffer.get(), got, last);
    }
    return;
  } catch (const Error& error) {
    lane.outcome.error = error.what();
  } catch (...) {
    lane.outcome.kind = FileOutcome::Kind::kBusy;
  }
  engine.Cancel(index);
  lane.finished = true;
}

// Closes the files of the finished lanes, then hands their outcomes over.
void Workers::Publish(std::vector<Lane>& lanes) {
  bool wake = false;
  std::unique_lock<std::mutex> guard(mutex, std::defer_lock);
  for (Lane& lane : lanes) {
    if (!lane.finished) continue;
    lane.stream.reset();
    if (!guard.owns_lock()) guard.lock();
    Slot& slot = *lane.task.slot;
    ReadAhead::State& owner = *lane.task.owner;
    slot.outcome = std::move(lane.outcome);
    slot.done = true;
    slot.entry.folder.reset();
    --owner.in_flight;
    --claimed;
    wake = wake || &slot == owner.awaited[0] || &slot == owner.awaited[1] ||
           (owner.stopping && owner.in_flight == 0);
    lane.task = {};
    lane.finished = false;
  }
  if (guard.owns_lock()) guard.unlock();
  if (wake) progress.notify_all();
}

}  // namespace

ReadAhead::ReadAhead(const FolderWalk& walk) : state_(std::make_unique<State>()) {
  Workers& workers = Workers::Get();
  state_->workers = &workers;
  {
    const std::lock_guard<std::mutex> guard(workers.mutex);
    state_->walk.emplace(walk);
    workers.active.push_back(state_.get());
  }
  workers.work.notify_all();
}

ReadAhead::~ReadAhead() {
  Workers& workers = *state_->workers;
  std::unique_lock<std::mutex> guard(workers.mutex);
  state_->stopping = true;
  state_->slots.clear();
  state_->ready.clear();
  workers.progress.wait(guard, [this] { return state_->in_flight == 0; });
  workers.active.erase(std::find(workers.active.begin(), workers.active.end(), state_.get()));
}

std::optional<FileOutcome> ReadAhead::Take(const FileEntry& entry, const FolderWalk& walk) {
  State& state = *state_;
  Workers& workers = *state.workers;
  if (state.ready.empty()) {
    std::unique_lock<std::mutex> guard(workers.mutex);
    if (state.slots.empty() && !state.Advance()) {
      state.Restart(walk);
      guard.unlock();
      workers.work.notify_all();
      return std::nullopt;
    }
    const std::shared_ptr<Slot> head = state.slots.front();
    if (!head->SameAs(entry)) {
      state.Restart(walk);
      guard.unlock();
      workers.work.notify_all();
      return std::nullopt;
    }
    if (!head->done) {
      const std::shared_ptr<Slot> far = state.slots[std::min(kWakeRun, state.slots.size()) - 1];
      state.awaited[0] = head.get();
      state.awaited[1] = far.get();
      if (workers.idle != 0) workers.work.notify_all();  // the head may wait for a worker
      workers.progress.wait(guard, [&] { return head->done && far->done; });
      state.awaited[0] = state.awaited[1] = nullptr;
    }
    while (!state.slots.empty() && state.slots.front()->done) {
      state.ready.push_back(std::move(state.slots.front()));
      state.slots.pop_front();
      if (state.next_to_start > 0) --state.next_to_start;
    }
    const bool wake = workers.idle != 0;
    guard.unlock();
    if (wake) workers.work.notify_all();  // room for more
  }
  const std::shared_ptr<Slot> slot = std::move(state.ready.front());
  state.ready.pop_front();
  if (!slot->SameAs(entry) || slot->changes != files_changed) {
    const std::lock_guard<std::mutex> guard(workers.mutex);
    state.Restart(walk);
    workers.work.notify_all();
    return std::nullopt;
  }
  if (slot->outcome.kind == FileOutcome::Kind::kBusy) return std::nullopt;
  return std::move(slot->outcome);
}

}  // namespace dupfind
