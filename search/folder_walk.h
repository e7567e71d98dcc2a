#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "digest/file_status.h"
#include "digest/unique_fd.h"

namespace dupfind {

// Counts itself in a shared count while it lives.
class Counted {
 public:
  Counted() = default;
  explicit Counted(std::shared_ptr<std::atomic<int>> count) : count_(std::move(count)) {
    if (count_) ++*count_;
  }
  Counted(Counted&& other) noexcept = default;
  Counted& operator=(Counted&&) = delete;
  ~Counted() {
    if (count_) --*count_;
  }

 private:
  std::shared_ptr<std::atomic<int>> count_;
};

// A folder the walk has opened: how its entries are reached, and how it is shown.
struct Folder {
  UniqueFd fd;
  std::string text;  // the folder text, ending in "/"
  FileIdentity identity;
  // Its file system is a local one that opens names it holds in memory, and
  // reads what it holds in memory, without waiting, and says when it would
  // have to wait: its files are tried from memory first.
  bool memory_first = false;
  Counted open;  // in the count of the walk's open folders, where one is kept
};

// A file the walk has met: the folder that holds it and its name there.
struct FileEntry {
  std::shared_ptr<const Folder> folder;
  std::string name;
  bool follow_link = false;  // the listing named a link, to be followed to its file
  int error = 0;             // the system's error when even the link could not be followed

  std::string Path() const { return folder->text + name; }
};

// A folder's entries as the file system listed them, "." and ".." left out.
struct ListedEntry {
  std::string name;
  unsigned char type;  // DT_DIR, DT_REG, ...: the listing's own word for it
};
using Listing = std::vector<ListedEntry>;

// A folder on the walk's path: its listing and how far the walk has got in it.
struct WalkLevel {
  std::shared_ptr<const Folder> folder;  // none while it is closed, far above the walk
  std::string text;
  std::string name;  // how its parent names it
  FileIdentity identity;
  std::shared_ptr<const Listing> entries;  // read once, when the folder was entered
  std::size_t next = 0;                    // the entry the walk looks at next
};

// One step of a walk: a folder entered or left, or a file met.
struct WalkStep {
  enum class Kind { kEnter, kLeave, kFile };
  Kind kind = Kind::kFile;
  std::size_t next = 0;  // kEnter, kFile: where the folder it was taken in goes on
  WalkLevel entered;     // kEnter
  std::shared_ptr<const Folder> reopened;  // kLeave: the folder left to, if it was opened again
  FileEntry file;                          // kFile
};

// Where a walk stands: the folders from the first one down to the one it is
// in, and every folder it has entered. Applying the steps a walk takes to a
// copy of its position keeps the copy where the walk is, without touching the
// disk; a new walk can go on from it.
struct WalkPosition {
  std::vector<WalkLevel> path;
  FileIdentitySet folders_entered;

  void Apply(const WalkStep& step);
};

// Walks a folder and every folder beneath it, depth first in the order the
// file system lists entries, step by step. Links are followed, but each
// physical folder is entered once per walk, so link loops end. Devices,
// pipes, sockets and links that lead nowhere are passed over.
//
// A folder's entries are read when it is entered. However deep the tree, the
// walk keeps at most kOpenFolders folders below the first one open, and opens
// the others again, checked by identity, when it comes back to them; every
// entry is reached relative to its folder, so no path is ever too long.
//
// A folder that is gone or that the system does not let us list is skipped;
// any other failure to open or read a folder throws "Cannot open folder ..."
// or "Cannot read folder ...".
class FolderWalk {
 public:
  static constexpr std::size_t kOpenFolders = 32;

  // Starts at `folder`, a folder text ending in "/"; it is opened by the
  // first step.
  explicit FolderWalk(std::string folder);
  // Goes on from where another walk stood.
  explicit FolderWalk(WalkPosition position);

  // Takes the next step; false at the end.
  bool Next(WalkStep& step);
  // Steps to the next file, passing folders entered and left; false at the end.
  bool NextFile(FileEntry& file);

  // Enters the entry `name` of the folder the walk is in, met as a file
  // before it turned into a folder, as the next step; false, without a step,
  // when it cannot be listed.
  bool EnterFolder(const std::string& name, WalkStep& step);

  const WalkPosition& Position() const { return position_; }

  // Counts the folders the walk opens from now on in `count` while they are
  // open, whoever holds them.
  void CountOpenFolders(std::shared_ptr<std::atomic<int>> count) { count_ = std::move(count); }

 private:
  bool Descend(const std::string& name, WalkStep& step);
  bool Enter(UniqueFd fd, std::string text, std::string name, WalkStep& step);
  void Leave(WalkStep& step);
  const std::shared_ptr<const Folder>& Current();
  void Reopen(std::size_t level);

  std::shared_ptr<const Folder> Share(UniqueFd fd, const std::string& text,
                                      const FileIdentity& identity) const;

  std::string first_;  // the folder still to be opened by the first step
  WalkPosition position_;
  std::shared_ptr<std::atomic<int>> count_;
};

}  // namespace dupfind
