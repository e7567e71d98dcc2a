// slowfs: mirrors a folder through FUSE, read-only apart from unlink and
// rename, and makes it slow on request, to try the program on a network-like
// or stalled mount.
//
// Usage: slowfs [--read-mbps=N] [--open-delay-ms=N] [--stall=GLOB]
//               [--release-file=PATH] SOURCE MOUNTPOINT [FUSE options, e.g. -f]
//   --read-mbps     all reads together get at most N MB/s (10^6 bytes)
//   --open-delay-ms every open of a file waits N ms
//   --stall         reads of files whose name matches GLOB block until released:
//                   by SIGUSR1, or once PATH of --release-file exists
// Unmount with `fusermount3 -u MOUNTPOINT`; that also releases stalled reads.

#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  double read_mbps = 0;  // 0: unlimited
  unsigned open_delay_ms = 0;
  const char* stall = nullptr;
  const char* release_file = nullptr;
  const char* source = nullptr;
};
Options options;
int source_fd = -1;

volatile std::sig_atomic_t released = 0;

// One token bucket for every read: each read books its bytes on a shared
// clock and waits until the clock has passed them.
std::mutex bucket_mutex;
Clock::time_point bucket_free = Clock::now();

void Throttle(std::size_t bytes) {
  if (options.read_mbps <= 0) return;
  const auto cost = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) / (options.read_mbps * 1e6)));
  Clock::time_point until;
  {
    std::lock_guard lock(bucket_mutex);
    bucket_free = std::max(bucket_free, Clock::now()) + cost;
    until = bucket_free;
  }
  std::this_thread::sleep_until(until);
}

bool Released() {
  return released || (options.release_file && ::access(options.release_file, F_OK) == 0);
}

struct OpenedFile {
  int fd;
  bool stalled;
  std::string name;
  std::atomic<bool> told{false};  // its stall has been reported
};

// Blocks a stalled read until it is released or the mount goes away; checks
// every 20 ms, which is all a signal handler or a control file allows. The
// first stalled read of an opened file says so on standard error, so that a
// script knows a reader is held.
bool WaitForRelease(OpenedFile& file) {
  fuse_session* session = fuse_get_session(fuse_get_context()->fuse);
  if (!Released() && !file.told.exchange(true)) {
    std::fprintf(stderr, "slowfs: stalled read of %s\n", file.name.c_str());
  }
  while (!Released()) {
    if (fuse_session_exited(session)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The path inside the source folder: "." for the root.
const char* Relative(const char* path) {
  while (*path == '/')
    ++path;
  return *path ? path : ".";
}

OpenedFile* Opened(fuse_file_info* fi) {
  return reinterpret_cast<OpenedFile*>(fi->fh);
}

void* Init(fuse_conn_info*, fuse_config* config) {
  config->use_ino = 1;  // the source's inode numbers, so that identities hold
  config->readdir_ino = 1;
  return nullptr;
}

void Destroy(void*) {
  released = 1;
}

int GetAttr(const char* path, struct stat* status, fuse_file_info* fi) {
  const int rc = fi ? ::fstat(Opened(fi)->fd, status)
                    : ::fstatat(source_fd, Relative(path), status, AT_SYMLINK_NOFOLLOW);
  return rc == 0 ? 0 : -errno;
}

int ReadLink(const char* path, char* buffer, std::size_t size) {
  const ssize_t n = ::readlinkat(source_fd, Relative(path), buffer, size - 1);
  if (n < 0) return -errno;
  buffer[n] = '\0';
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  const int fd = ::openat(source_fd, Relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  while (dirent* entry = ::readdir(dir)) {
    struct stat status {};
    status.st_ino = entry->d_ino;
    status.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
    if (fill(buffer, entry->d_name, &status, 0, fuse_fill_dir_flags{})) break;
  }
  ::closedir(dir);
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  std::this_thread::sleep_for(std::chrono::milliseconds(options.open_delay_ms));
  const int fd = ::openat(source_fd, Relative(path), fi->flags & ~(O_CREAT | O_TRUNC));
  if (fd < 0) return -errno;
  const char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  const bool stalled = options.stall && ::fnmatch(options.stall, name, 0) == 0;
  fi->fh = reinterpret_cast<uint64_t>(new OpenedFile{fd, stalled, path, {}});
  fi->keep_cache = 0;  // every open reads through this file system again
  return 0;
}

int Create(const char*, mode_t, fuse_file_info*) {
  return -EROFS;
}

int Read(const char*, char* buffer, std::size_t size, off_t offset, fuse_file_info* fi) {
  OpenedFile& file = *Opened(fi);
  if (file.stalled && !WaitForRelease(file)) return -EIO;
  const ssize_t n = ::pread(file.fd, buffer, size, offset);
  if (n < 0) return -errno;
  Throttle(static_cast<std::size_t>(n));
  return static_cast<int>(n);
}

int Release(const char*, fuse_file_info* fi) {
  ::close(Opened(fi)->fd);
  delete Opened(fi);
  return 0;
}

int StatFs(const char*, struct statvfs* status) {
  return ::fstatvfs(source_fd, status) == 0 ? 0 : -errno;
}

int Unlink(const char* path) {
  return ::unlinkat(source_fd, Relative(path), 0) == 0 ? 0 : -errno;
}

int Rename(const char* from, const char* to, unsigned int flags) {
  return ::renameat2(source_fd, Relative(from), source_fd, Relative(to), flags) == 0 ? 0 : -errno;
}

fuse_operations Operations() {
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readlink = ReadLink;
  ops.unlink = Unlink;
  ops.rename = Rename;
  ops.open = Open;
  ops.create = Create;
  ops.read = Read;
  ops.statfs = StatFs;
  ops.release = Release;
  ops.readdir = ReadDir;
  ops.init = Init;
  ops.destroy = Destroy;
  return ops;
}

const fuse_opt kOptions[] = {
    {"--read-mbps=%lf", offsetof(Options, read_mbps), 0},
    {"--open-delay-ms=%u", offsetof(Options, open_delay_ms), 0},
    {"--stall=%s", offsetof(Options, stall), 0},
    {"--release-file=%s", offsetof(Options, release_file), 0},
    FUSE_OPT_END,
};

// Takes the first argument that is no option as the source folder and leaves
// the rest (the mount point) to FUSE.
int TakeSource(void* data, const char* arg, int key, fuse_args*) {
  auto& parsed = *static_cast<Options*>(data);
  if (key != FUSE_OPT_KEY_NONOPT || parsed.source) return 1;
  parsed.source = ::strdup(arg);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  fuse_args args = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&args, &options, kOptions, TakeSource) != 0) return 2;
  if (!options.source) {
    std::fprintf(stderr,
                 "usage: slowfs [--read-mbps=N] [--open-delay-ms=N] [--stall=GLOB] "
                 "[--release-file=PATH] SOURCE MOUNTPOINT [FUSE options]\n");
    return 2;
  }
  source_fd = ::open(options.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (source_fd < 0) {
    std::fprintf(stderr, "slowfs: %s: %s\n", options.source, std::strerror(errno));
    return 1;
  }
  std::signal(SIGUSR1, [](int) { released = 1; });
  fuse_opt_add_arg(&args, "-ofsname=slowfs,subtype=slowfs");
  const fuse_operations ops = Operations();
  const int rc = fuse_main(args.argc, args.argv, &ops, nullptr);
  fuse_opt_free_args(&args);
  return rc;
}
