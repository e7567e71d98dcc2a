#include "search/lingering_threads.h"

#include <algorithm>

namespace dupfind {

LingeringThreads::~LingeringThreads() {
  for (Lingering& lingering : threads_)
    lingering.thread.request_stop();
  // The jthreads join as they go.
}

void LingeringThreads::Adopt(std::jthread thread, std::shared_ptr<const std::atomic<bool>> ended) {
  JoinEnded();
  threads_.push_back({std::move(thread), std::move(ended)});
}

std::size_t LingeringThreads::JoinEnded() {
  std::erase_if(threads_, [](const Lingering& lingering) { return lingering.ended->load(); });
  return threads_.size();
}

}  // namespace dupfind
