#include "search/pseudo_file_system.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <map>
#include <mutex>
#include <string>

#include "digest/unique_fd.h"

namespace dupfind {
namespace {

// devtmpfs tells the system it is a tmpfs; only the table of mounts names it.
// There is one devtmpfs for the life of the system, so a device number once
// told apart stays so.
bool IsDevtmpfs(dev_t device) {
  static std::mutex mutex;
  static std::map<dev_t, bool> known;  // guarded by mutex
  {
    const std::lock_guard<std::mutex> guard(mutex);
    if (const auto found = known.find(device); found != known.end()) return found->second;
  }
  // A line is "id parent major:minor root mount-point options... - type source options".
  const std::string numbers =
      " " + std::to_string(major(device)) + ":" + std::to_string(minor(device)) + " ";
  bool devtmpfs = false;
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    const std::size_t type = line.find(" - ");
    if (type != std::string::npos && line.find(numbers) < type &&
        line.compare(type + 3, 9, "devtmpfs ") == 0) {
      devtmpfs = true;
    }
  }
  const std::lock_guard<std::mutex> guard(mutex);
  known.emplace(device, devtmpfs);
  return devtmpfs;
}

bool IsPseudo(int fd) {
  struct statfs system;
  if (::fstatfs(fd, &system) != 0) return false;
  switch (system.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC:
    case BPF_FS_MAGIC:
      return true;
    case TMPFS_MAGIC: {
      struct stat status;
      return ::fstat(fd, &status) == 0 && IsDevtmpfs(status.st_dev);
    }
    default:
      return false;
  }
}

}  // namespace

bool StepsIntoPseudoFileSystem(int root, int folder, const char* name) {
  UniqueFd target;
  if (*name != '\0') {
    target.Reset(::openat(folder, name, O_PATH | O_CLOEXEC));
    if (!target) return false;
  }
  return IsPseudo(target ? target.get() : folder) && !IsPseudo(root);
}

}  // namespace dupfind
