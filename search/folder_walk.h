#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "digest/file_stream.h"
#include "digest/unique_fd.h"

namespace dupfind {

// A folder the walk is in: how its entries are reached, and how it is shown.
struct Folder {
  UniqueFd fd;
  std::string text;  // the folder text, ending in "/"
  FileIdentity identity;
};

// A file the walk has met: the folder that holds it and its name there.
struct FileEntry {
  std::shared_ptr<const Folder> folder;
  std::string name;
  bool follow_link = false;  // the listing named a link, to be followed to its file
  int error = 0;             // the system's error when even the link could not be followed

  std::string Path() const { return folder->text + name; }
  // Whether `other` names the same entry of the same folder, the same way.
  bool SameAs(const FileEntry& other) const {
    return folder->identity == other.folder->identity && name == other.name &&
           follow_link == other.follow_link && error == other.error;
  }
};

// Walks a folder and every folder beneath it, depth first in the order the
// file system lists entries, handing out the files one by one. Links are
// followed, but each physical folder is entered once per walk, so link loops
// end. Devices, pipes, sockets and links that lead nowhere are passed over.
//
// A folder's entries are read when it is entered. However deep the tree, the
// walk keeps at most kOpenFolders folders below the first one open, and opens
// the others again, checked by identity, when it comes back to them; every
// entry is reached relative to its folder, so no path is ever too long.
//
// A folder that is gone or that the system does not let us list is skipped;
// any other failure to open or read a folder throws "Cannot open folder ..."
// or "Cannot read folder ...".
//
// A walk is a value: a copy goes on from the same place on its own, sharing
// the open folders.
class FolderWalk {
 public:
  static constexpr std::size_t kOpenFolders = 32;

  // Starts at `folder`, a folder text ending in "/".
  explicit FolderWalk(const std::string& folder);

  // Moves to the next file; false at the end.
  bool Next(FileEntry& entry);

  // Walks `entry`, the file Next gave last, as the folder it has turned into
  // since it was listed; its files come next.
  void EnterFolder(const FileEntry& entry);

 private:
  struct Level {
    std::shared_ptr<const Folder> folder;  // none while it is closed
    std::string text;
    std::string name;  // how its parent names it
    FileIdentity identity;
    struct Entry {
      std::string name;
      unsigned char type;  // DT_DIR, DT_REG, ...: the listing's own word for it
    };
    std::vector<Entry> entries;
    std::size_t next = 0;
  };

  void Enter(UniqueFd fd, std::string text, std::string name);
  void Descend(const std::string& name);
  void Leave();
  const Folder& Current();
  void Reopen(std::size_t level);
  bool IsFar(std::size_t level) const;

  std::vector<Level> path_;
  FileIdentitySet folders_seen_;
};

}  // namespace dupfind
