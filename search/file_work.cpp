#include "search/file_work.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "digest/file_error.h"

namespace dupfind {
namespace {

OpenedEntry Unopened(const FileEntry& entry, int error_number) {
  return {FileOutcome::Kind::kUnopened,
          {},
          FileError("Cannot open file", entry.Path(), error_number).what(),
          error_number};
}

}  // namespace

OpenedEntry OpenEntry(const FileEntry& entry, OpenWait wait) {
  if (entry.error != 0) return Unopened(entry, entry.error);
  const int folder = entry.folder->fd.get();
  OpenFile file{wait == OpenWait::kIfCached
                    ? OpenForReadingIfCached(folder, entry.name.c_str(), entry.follow_link)
                    : OpenForReading(folder, entry.name.c_str(), entry.follow_link),
                {}};
  // Not in memory, or a link: what it leads to is looked at with waiting.
  if (!file.fd && wait == OpenWait::kIfCached &&
      (errno == EAGAIN || errno == EWOULDBLOCK || (!entry.follow_link && errno == ELOOP))) {
    OpenedEntry would_wait;
    would_wait.would_wait = true;
    return would_wait;
  }
  if (!file.fd && !entry.follow_link && errno == ELOOP) {
    // A link stands where a file was listed: what it leads to decides.
    FileStatus status;
    if (!StatusAt(folder, entry.name.c_str(), true, status)) {
      if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return {};  // leads nowhere
      return Unopened(entry, errno);
    }
    if (S_ISDIR(status.mode)) return {FileOutcome::Kind::kFolder, {}, {}, 0};
    if (!S_ISREG(status.mode)) return {};
    file.fd = OpenForReading(folder, entry.name.c_str(), true);
  }
  if (!file.fd || !StatusOf(file.fd.get(), file.status)) return Unopened(entry, errno);
  if (!S_ISREG(file.status.mode)) return {};
  return {FileOutcome::Kind::kFile, std::move(file), {}};
}

bool IsResourceShortage(int error_number) {
  return error_number == EMFILE || error_number == ENFILE || error_number == ENOMEM;
}

FileOutcome ReadEntry(const FileEntry& entry) {
  OpenedEntry opened = OpenEntry(entry);
  FileOutcome outcome{opened.kind, {}, {}, std::move(opened.error)};
  if (opened.kind != FileOutcome::Kind::kFile) return outcome;
  outcome.status = opened.file.status;
  try {
    FileStream stream(entry.Path(), std::move(opened.file));
    outcome.digest = DigestOfStream(stream);
  } catch (const Error& error) {
    outcome.error = error.what();
  }
  return outcome;
}

}  // namespace dupfind
