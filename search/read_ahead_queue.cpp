#include "search/read_ahead_queue.h"

#include <chrono>

namespace dupfind {

WaitingCall::WaitingCall(ThreadMark& mark) : mark_(mark) {
  mark_.waiting_since = std::chrono::steady_clock::now().time_since_epoch().count();
}

WaitingCall::~WaitingCall() {
  mark_.waiting_since = 0;
}

SpinningMutex::SpinningMutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
  pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

SpinningMutex::~SpinningMutex() {
  pthread_mutex_destroy(&mutex_);
}

void SpinningMutex::lock() {
  pthread_mutex_lock(&mutex_);
}

void SpinningMutex::unlock() {
  pthread_mutex_unlock(&mutex_);
}

bool SpinningMutex::try_lock() {
  return pthread_mutex_trylock(&mutex_) == 0;
}

bool ReadAheadQueue::HeadFirst() const {
  if (!window_waits || steps.empty()) return false;
  const FileRead* head = steps.front().file.get();
  return head != nullptr && head->unread > kHeadFirstBytes && head->slow;
}

bool ReadAheadQueue::Claimable(std::size_t mine) {
  while (claimed < steps.size() && !steps[claimed].file)
    ++claimed;
  // No worker takes more than its share of the files in work and those
  // waiting, so that a few large files are spread over all of them.
  const std::size_t share = (in_work + unclaimed + running_workers - 1) / running_workers;
  return claimed < steps.size() && mine < share;
}

void ReadAheadQueue::NoteHeadFirst() {
  const bool now = HeadFirst();
  if (head_first && !now && helpers_waiting != 0) for_helpers.notify_all();
  head_first = now;
}

std::vector<std::shared_ptr<FileRead>> ReadAheadQueue::Claim(std::size_t mine, std::size_t most) {
  std::vector<std::shared_ptr<FileRead>> files;
  while (files.size() < most && Claimable(mine + files.size())) {
    files.push_back(steps[claimed++].file);
    ++in_work;
    --unclaimed;
  }
  return files;
}

bool ReadAheadQueue::Finish(FileRead& file) {
  file.done = true;
  --in_work;
  return window_waits && !steps.empty() && steps.front().file.get() == &file;
}

bool ReadAheadQueue::WalkerMayGoOn() const {
  return steps.empty() || (steps.size() <= kStepsAhead / 2 &&
                           static_cast<std::size_t>(open_folders->load()) < folder_budget);
}

void ReadAheadQueue::OfferFiles() {
  for (Worker& worker : workers) {
    if (worker.waits) worker.wake.notify_one();
  }
}

}  // namespace dupfind
