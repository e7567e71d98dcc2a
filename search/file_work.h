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
    kBusy,      // another thread of the program holds it locked: to do again
  };
  Kind kind = Kind::kNotAFile;
  FileStatus status;  // as it was opened; the read checks the file still has its size and time
  Digest digest{};
  std::string error;  // the message of the error that ended the file's work
};

// The file of `entry` opened for reading, when `kind` is kFile; the type and
// identity come from the descriptor that is read, whatever the listing said.
struct OpenedEntry {
  FileOutcome::Kind kind = FileOutcome::Kind::kNotAFile;
  OpenFile file;
  std::string error;
};
OpenedEntry OpenEntry(const FileEntry& entry);

// Opens, locks and digests the file of `entry` (waiting for any other thread
// of the program that holds it locked) and closes it again.
FileOutcome ReadEntry(const FileEntry& entry);

}  // namespace dupfind
