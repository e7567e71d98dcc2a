#pragma once

#include <string>
#include <vector>

#include "digest/file_status.h"
#include "search/main_form.h"

namespace dupfind {

// A file row of the results and the file it was read from, as it was then.
struct Copy {
  std::string folder;
  std::string name;
  FileStatus file;  // a default status when no file was read for the row

  std::string Path() const { return folder + name; }
};

// The result row `row` of `form`, which must exist.
Copy CopyAt(MainForm& form, int row);

// The other file rows of the group of result row `row` (between the same
// separator rows) whose digest text is that of `row`.
std::vector<Copy> OtherCopies(MainForm& form, int row);

// Whether the path of `copy` still leads to the very file it was read from,
// unchanged since it was read.
bool StillAsRead(const Copy& copy);

}  // namespace dupfind
