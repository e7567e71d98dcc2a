#pragma once

// A step into the program's calls to the system, for tests that must change
// the disk at the exact moment the code under test gets there. The test
// program that links syscall_hooks.cpp has its own open (openat2 included),
// rename, unlink, pread, fstatfs and pthread_create functions standing in for
// the C library's: each runs the hook, or applies the change set below, and
// then the library's own.

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

// Lets the next `allowed` thread starts succeed and makes the rest fail with
// EAGAIN, as a per-user limit on processes does, until the object goes.
class ScopedThreadStarts {
 public:
  explicit ScopedThreadStarts(int allowed);
  ~ScopedThreadStarts();
  ScopedThreadStarts(const ScopedThreadStarts&) = delete;
  ScopedThreadStarts& operator=(const ScopedThreadStarts&) = delete;
};

}  // namespace dupfind::test
