#pragma once

#include <string>

#include "digest/file_stream.h"
#include "digest/md5.h"
#include "search/folder_walk.h"

namespace dupfind {

// What became of a file the walk met, once it was opened and read.
struct FileOutcome {
  enum class Kind {
    kFile,      // a regular file: its status, and its digest unless `error`
    kNotAFile,  // no longer a regular file when it was opened: no row
    kFolder,    // a folder stands where the file was listed: walked as one
    kUnopened,  // it could not be opened: `error`
  };
  Kind kind = Kind::kNotAFile;
  FileStatus status;  // as it was opened; the read checks the file still has its size and time
  Digest digest{};
  std::string error;  // the message of the error that ended the file's work
};

// The file of `entry` opened for reading, when `kind` is kFile; the type and
// status come from the descriptor that is read, whatever the listing said.
struct OpenedEntry {
  FileOutcome::Kind kind = FileOutcome::Kind::kNotAFile;
  OpenFile file;
  std::string error;
  int error_number = 0;     // kUnopened: why
  bool would_wait = false;  // OpenWait::kIfCached: nothing done, as opening would wait
};

// Whether opening may wait for a disk, or is to be done only from what the
// system holds in memory.
enum class OpenWait { kWait, kIfCached };

OpenedEntry OpenEntry(const FileEntry& entry, OpenWait wait = OpenWait::kWait);

// Failures of the process's resources (descriptors, memory), not of a file:
// reading the file later, with fewer files open, may work.
bool IsResourceShortage(int error_number);

// Opens, locks and digests the file of `entry` and closes it again.
FileOutcome ReadEntry(const FileEntry& entry);

}  // namespace dupfind
