#pragma once

#include <string>

namespace dupfind {

// Walks `folder` and every folder beneath it, depth first in the order the
// file system lists entries, and appends one row per file to the working
// lists of Form1: name, folder text (ending in "/"), digest text; the file's
// status as read goes to Form1's working_files. After each file the status line
// shows its path and pending events are processed.
//
// Every file is opened from its folder's descriptor, and the row is the file
// that was opened: an entry that is no longer a regular file when opened gets
// no row. Links are followed, but each physical folder is walked once per scan
// and each physical file is given one row until the lists are emptied (see
// MainForm::recorded_files), so link loops end and no file pairs with itself.
// Devices, pipes and sockets are never opened; links that lead nowhere are
// passed over. The walk holds a bounded number of descriptors and no path
// longer than the system takes, however deep the tree.
//
// A folder that is gone or that the system does not let us list is skipped
// silently; any other failure to open a folder ends the scan with
// "Cannot open folder ...". A file that the listing names but that cannot be
// opened, locked or read ends the scan with the error, its name and folder
// already appended. An empty folder text scans nothing.
void ScanFolder(const std::string& folder);

}  // namespace dupfind
