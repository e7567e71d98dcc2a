#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

namespace dupfind {

// Threads that outlived the search that started them, because they were
// inside a system call that had not returned when the search ended, such as
// a read stalled on a network mount. Each ends on its own once the call
// returns, closing and unlocking its file. They are joined as they end, and
// the rest when this goes. Used from the window thread only.
class LingeringThreads {
 public:
  LingeringThreads() = default;
  ~LingeringThreads();
  LingeringThreads(const LingeringThreads&) = delete;
  LingeringThreads& operator=(const LingeringThreads&) = delete;

  // Takes `thread`, whose `ended` turns true as its function returns.
  void Adopt(std::jthread thread, std::shared_ptr<const std::atomic<bool>> ended);
  // Joins those that have ended; returns how many have not.
  std::size_t JoinEnded();

 private:
  struct Lingering {
    std::jthread thread;
    std::shared_ptr<const std::atomic<bool>> ended;
  };
  std::vector<Lingering> threads_;
};

}  // namespace dupfind
