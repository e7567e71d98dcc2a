#include "tests/support/syscall_hooks.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <utility>

namespace dupfind::test {
namespace {

CallHook& Hook() {
  static CallHook hook;
  return hook;
}

FailureHook& Failure() {
  static FailureHook hook;
  return hook;
}

thread_local bool in_hook = false;

// The error number `call` is to fail with, 0 to let it run.
int Fail(Failable call, const char* path) {
  if (in_hook || !Failure()) return 0;
  in_hook = true;
  const int error_number = Failure()(call, path);
  in_hook = false;
  return error_number;
}

void Run(Call call, int folder, const char* path) {
  if (in_hook || !Hook()) return;
  in_hook = true;
  Hook()(call, folder, path);
  in_hook = false;
}

template <typename Function>
Function* Real(const char* name) {
  return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

mode_t ModeOf(int flags, va_list arguments) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
}

}  // namespace

ScopedCallHook::ScopedCallHook(CallHook hook) {
  Hook() = std::move(hook);
}

ScopedCallHook::~ScopedCallHook() {
  Hook() = nullptr;
}

std::atomic<long> file_system_type{0};

ScopedFileSystemType::ScopedFileSystemType(long type) {
  file_system_type = type;
}

ScopedFileSystemType::~ScopedFileSystemType() {
  file_system_type = 0;
}

ScopedFailure::ScopedFailure(FailureHook hook) {
  Failure() = std::move(hook);
}

ScopedFailure::~ScopedFailure() {
  Failure() = nullptr;
}

}  // namespace dupfind::test

using dupfind::test::Call;
using dupfind::test::Fail;
using dupfind::test::Failable;
using dupfind::test::file_system_type;
using dupfind::test::ModeOf;
using dupfind::test::Real;
using dupfind::test::Run;

extern "C" {

#define DUPFIND_OPEN_AT(name)                                               \
  int name(int folder, const char* path, int flags, ...) {                  \
    va_list arguments;                                                      \
    va_start(arguments, flags);                                             \
    const mode_t mode = ModeOf(flags, arguments);                           \
    va_end(arguments);                                                      \
    Run(Call::kOpen, folder, path);                                         \
    static auto* const real = Real<int(int, const char*, int, ...)>(#name); \
    return real(folder, path, flags, mode);                                 \
  }
#define DUPFIND_OPEN(name)                                             \
  int name(const char* path, int flags, ...) {                         \
    va_list arguments;                                                 \
    va_start(arguments, flags);                                        \
    const mode_t mode = ModeOf(flags, arguments);                      \
    va_end(arguments);                                                 \
    Run(Call::kOpen, AT_FDCWD, path);                                  \
    static auto* const real = Real<int(const char*, int, ...)>(#name); \
    return real(path, flags, mode);                                    \
  }

DUPFIND_OPEN_AT(openat)
DUPFIND_OPEN_AT(openat64)
DUPFIND_OPEN(open)
DUPFIND_OPEN(open64)

// Fails the call with the error number the failure hook gives, if any.
#define DUPFIND_FAIL(call, path)                   \
  if (const int error_number = Fail(call, path)) { \
    errno = error_number;                          \
    return -1;                                     \
  }

int rename(const char* from, const char* to) noexcept {
  DUPFIND_FAIL(Failable::kPlainRename, from);
  Run(Call::kRename, AT_FDCWD, from);
  static auto* const real = Real<int(const char*, const char*)>("rename");
  return real(from, to);
}

int renameat(int from_folder, const char* from, int to_folder, const char* to) noexcept {
  DUPFIND_FAIL(Failable::kPlainRename, from);
  Run(Call::kRename, from_folder, from);
  static auto* const real = Real<int(int, const char*, int, const char*)>("renameat");
  return real(from_folder, from, to_folder, to);
}

int renameat2(int from_folder, const char* from, int to_folder, const char* to,
              unsigned flags) noexcept {
  DUPFIND_FAIL(flags != 0 ? Failable::kRenameWithFlags : Failable::kPlainRename, from);
  Run(Call::kRename, from_folder, from);
  static auto* const real = Real<int(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(from_folder, from, to_folder, to, flags);
}

#define DUPFIND_PREAD(name)                                                    \
  ssize_t name(int fd, void* buffer, size_t size, off_t offset) {              \
    Run(Call::kRead, fd, "");                                                  \
    static auto* const real = Real<ssize_t(int, void*, size_t, off_t)>(#name); \
    return real(fd, buffer, size, offset);                                     \
  }

DUPFIND_PREAD(pread)
DUPFIND_PREAD(pread64)

#define DUPFIND_FSTATFS(name)                                                    \
  int name(int fd, struct statfs* status) noexcept {                             \
    static auto* const real = Real<int(int, struct statfs*)>(#name);             \
    const int result = real(fd, status);                                         \
    if (result == 0 && file_system_type != 0) status->f_type = file_system_type; \
    return result;                                                               \
  }

DUPFIND_FSTATFS(fstatfs)

// openat2 has no wrapper in the C library: it is reached through syscall.
long syscall(long number, ...) noexcept {
  va_list arguments;
  va_start(arguments, number);
  long words[6];
  for (long& word : words)
    word = va_arg(arguments, long);
  va_end(arguments);
  if (number == SYS_openat2) {
    Run(Call::kOpen, static_cast<int>(words[0]), reinterpret_cast<const char*>(words[1]));
  }
  static auto* const real = Real<long(long, ...)>("syscall");
  return real(number, words[0], words[1], words[2], words[3], words[4], words[5]);
}

int unlink(const char* path) noexcept {
  Run(Call::kUnlink, AT_FDCWD, path);
  static auto* const real = Real<int(const char*)>("unlink");
  return real(path);
}

int unlinkat(int folder, const char* path, int flags) noexcept {
  Run(Call::kUnlink, folder, path);
  static auto* const real = Real<int(int, const char*, int)>("unlinkat");
  return real(folder, path, flags);
}

int link(const char* from, const char* to) noexcept {
  DUPFIND_FAIL(Failable::kLink, from);
  static auto* const real = Real<int(const char*, const char*)>("link");
  return real(from, to);
}

int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) noexcept {
  DUPFIND_FAIL(Failable::kLink, from);
  static auto* const real = Real<int(int, const char*, int, const char*, int)>("linkat");
  return real(from_folder, from, to_folder, to, flags);
}

int flock(int fd, int operation) noexcept {
  DUPFIND_FAIL(Failable::kLock, nullptr);
  static auto* const real = Real<int(int, int)>("flock");
  return real(fd, operation);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) noexcept {
  if (const int error_number = Fail(Failable::kThreadStart, nullptr)) return error_number;
  static auto* const real =
      Real<int(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
  return real(thread, attributes, start, argument);
}

}  // extern "C"
