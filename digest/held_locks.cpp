#include "digest/held_locks.h"

#include <sys/file.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "digest/file_error.h"

namespace dupfind {
namespace {

// File systems that cannot lock at all answer with one of these (FUSE ones
// pass on whatever their flock answers: ENOSYS, EINVAL, EIO); their files
// are read without the lock rather than refused one and all.
bool LockingUnsupported(int error_number) {
  return error_number == EBADF || error_number == ENOLCK || error_number == EOPNOTSUPP ||
         error_number == ENOTSUP || error_number == ENOSYS || error_number == EINVAL ||
         error_number == EIO;
}

// The program's lock holders of the files whose identity falls in one shard.
// Only counting happens under the mutex; flock is called outside it.
struct Shard {
  struct Holders {
    int locked = 0;  // descriptors that hold the lock
    int trying = 0;  // descriptors between counting themselves and knowing
  };
  std::mutex mutex;
  std::condition_variable settled;                                    // a try has ended
  std::unordered_map<FileIdentity, Holders, FileIdentityHash> files;  // guarded by mutex

  void Forget(const FileIdentity& identity, const Holders& holders) {
    if (holders.locked == 0 && holders.trying == 0) files.erase(identity);
  }
};

constexpr std::size_t kShards = 64;

Shard& ShardOf(const FileIdentity& identity) {
  static std::array<Shard, kShards> shards;
  return shards[FileIdentityHash()(identity) % kShards];
}

}  // namespace

LockHold LockFile(const std::string& path, int fd, const FileIdentity& identity) {
  Shard& shard = ShardOf(identity);
  {
    const std::lock_guard<std::mutex> guard(shard.mutex);
    ++shard.files[identity].trying;
  }
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  const int error_number = errno;

  std::unique_lock<std::mutex> guard(shard.mutex);
  {
    Shard::Holders& holders = shard.files[identity];
    --holders.trying;
    if (locked) ++holders.locked;
    shard.settled.notify_all();
    if (locked) return LockHold::kOwn;
    shard.Forget(identity, holders);
  }
  if (LockingUnsupported(error_number)) return LockHold::kUnsupported;
  if (error_number == EWOULDBLOCK) {
    // Refused: ours if a descriptor of this program holds it. Others still
    // trying may be about to; their non-blocking tries end at once.
    const auto holders = [&] {
      const auto it = shard.files.find(identity);
      return it != shard.files.end() ? it->second : Shard::Holders{};
    };
    shard.settled.wait(guard, [&] { return holders().locked != 0 || holders().trying == 0; });
    if (holders().locked != 0) return LockHold::kThisProgram;
  }
  guard.unlock();
  throw FileError("Cannot open file", path, error_number);
}

void ReleaseLock(const FileIdentity& identity) {
  Shard& shard = ShardOf(identity);
  const std::lock_guard<std::mutex> guard(shard.mutex);
  const auto it = shard.files.find(identity);
  if (it == shard.files.end()) return;
  --it->second.locked;
  shard.Forget(identity, it->second);
}

}  // namespace dupfind
