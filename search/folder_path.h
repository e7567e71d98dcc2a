#pragma once

#include <string>

#include "digest/unique_fd.h"

namespace dupfind {

// Opens the folder at `path` (relative paths start at the current folder),
// following links as the system does, whatever the path's length: a path
// longer than the system takes at once is opened piece by piece. Returns no
// descriptor and sets errno when it cannot.
UniqueFd OpenFolderPath(const std::string& path);

// Opens the subfolder `name` of the folder `folder`, following a link.
UniqueFd OpenSubfolder(int folder, const char* name);

}  // namespace dupfind
