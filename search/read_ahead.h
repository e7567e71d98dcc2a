#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "search/file_work.h"
#include "search/folder_walk.h"

namespace dupfind {

// Memory for file data, whatever the file sizes, the tree or the number of
// cores: the buffers of all the read-ahead's workers together hold no more.
inline constexpr std::size_t kReadAheadMemory = std::size_t{64} << 20;
// Files open at once for reading ahead, all workers together.
inline constexpr std::size_t kFilesInFlight = 128;
// Files read ahead of a walk and not yet taken by it, at most.
inline constexpr std::size_t kFilesAhead = 4096;

// Tells every read-ahead that the program itself has changed files on disk
// (the delete command): what was read before may no longer be what a walk
// would find there now.
void NoteFilesChanged();

// Opens, reads and digests the files a walk will meet next, on worker threads
// (one per core, each digesting many files at once in SIMD lanes), so that the
// walk finds them done when it gets there.
//
// The walk sees what it would see reading each file itself when it meets it:
// it takes an outcome only when that was read for the very entry it has met,
// and the program has changed no file since; otherwise it reads the file
// itself, and reading ahead starts again from where the walk stands.
class ReadAhead {
 public:
  // Reads ahead of `walk`, from where it stands now.
  explicit ReadAhead(const FolderWalk& walk);
  // Stops, and returns once every file it opened is closed and unlocked.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The outcome for `entry`, which `walk` has just given, or nothing when the
  // walk must read it itself. Waits while the file is being read.
  std::optional<FileOutcome> Take(const FileEntry& entry, const FolderWalk& walk);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace dupfind
