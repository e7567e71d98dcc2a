#pragma once

#include <string>

namespace dupfind {

// Walks `folder` and every folder beneath it, depth first in the order the
// file system lists entries, and appends one row per file to the working
// lists of Form1: name, folder text (ending in "/"), digest text. After each
// file the status line shows its path and pending events are processed.
//
// Links are followed, but each physical folder is walked once per scan and
// each physical file is given one row until the lists are emptied (see
// MainForm::recorded_files), so link loops end and no file pairs with itself. Entries that are
// neither files nor folders are passed over unopened; folders that cannot be listed are skipped
// silently. A file that cannot be read ends the scan with the error, its name and folder already
// appended. An empty folder text scans nothing.
void ScanFolder(const std::string& folder);

}  // namespace dupfind
