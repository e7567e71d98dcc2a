#pragma once

// A step into the program's calls to the system, for tests that must change
// the disk at the exact moment the code under test gets there, or make a call
// fail as a file system would. The test program that links syscall_hooks.cpp
// has its own open (openat2 included), rename, link, unlink, pread, flock,
// fstatfs and pthread_create functions standing in for the C library's: each
// runs the hooks that are set, then the library's own.

#include <functional>

namespace dupfind::test {

enum class Call { kOpen, kRename, kUnlink, kRead };

// `path` is the name as the call got it, relative to `folder` (AT_FDCWD or a
// folder's descriptor); for a rename, the name it moves. kRead is a read that
// may wait for the disk (not one that takes only what is in memory): `path`
// is empty and `folder` the descriptor read. Calls the hook makes itself
// reach the system directly.
using CallHook = std::function<void(Call call, int folder, const char* path)>;

// Runs `hook` before every such call until the object goes.
class ScopedCallHook {
 public:
  explicit ScopedCallHook(CallHook hook);
  ~ScopedCallHook();
  ScopedCallHook(const ScopedCallHook&) = delete;
  ScopedCallHook& operator=(const ScopedCallHook&) = delete;
};

// Makes every folder look as if it were on the file system of magic number
// `type` (statfs's f_type), until the object goes.
class ScopedFileSystemType {
 public:
  explicit ScopedFileSystemType(long type);
  ~ScopedFileSystemType();
  ScopedFileSystemType(const ScopedFileSystemType&) = delete;
  ScopedFileSystemType& operator=(const ScopedFileSystemType&) = delete;
};

// Calls a test can make fail, as some file systems and systems do.
enum class Failable {
  kRenameWithFlags,  // renameat2 given flags
  kPlainRename,      // rename, renameat, and renameat2 without flags
  kLink,             // link, linkat
  kLock,             // flock; `path` is null
  kThreadStart,      // pthread_create; `path` is null
};

// Returns the error number the call fails with, or 0 to let it run. A call
// made to fail never reaches the system, nor the CallHook.
using FailureHook = std::function<int(Failable call, const char* path)>;

// Runs `hook` before every such call until the object goes. Set it while no
// other thread makes such calls.
class ScopedFailure {
 public:
  explicit ScopedFailure(FailureHook hook);
  ~ScopedFailure();
  ScopedFailure(const ScopedFailure&) = delete;
  ScopedFailure& operator=(const ScopedFailure&) = delete;
};

}  // namespace dupfind::test
