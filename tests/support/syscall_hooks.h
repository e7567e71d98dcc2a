#pragma once

// A step into the program's calls to the system, for tests that must change
// the disk at the exact moment the code under test gets there. The test
// program that links syscall_hooks.cpp has its own open (openat2 included),
// rename, unlink and positioned read functions standing in for the C
// library's: each runs the hook, if one is set, then the library's own.

#include <functional>

namespace dupfind::test {

enum class Call { kOpen, kRename, kUnlink, kRead };

// `path` is the name as the call got it, relative to `folder` (AT_FDCWD or a
// folder's descriptor); for a rename, the name it moves; for a read, empty,
// with `folder` the descriptor read. Calls the hook makes itself reach the
// system directly.
using CallHook = std::function<void(Call call, int folder, const char* path)>;

// Runs `hook` before every such call until the object goes.
class ScopedCallHook {
 public:
  explicit ScopedCallHook(CallHook hook);
  ~ScopedCallHook();
  ScopedCallHook(const ScopedCallHook&) = delete;
  ScopedCallHook& operator=(const ScopedCallHook&) = delete;
};

}  // namespace dupfind::test
