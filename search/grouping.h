#pragma once

#include <string>

namespace dupfind {

// The text of all three columns of the row that closes a group.
inline const std::string kSeparator = "---";

// Moves every set of two or more working rows (ListBox1-3 of Form1) with
// equal digest text into the results (ListBox7-9) as one group closed by a
// "---" row. Groups come in the order of their latest-scanned row, latest
// first, and so do the rows within a group. The working lists keep the
// unreported rows in scan order; the group lists (ListBox4-6) end empty. Each
// row's file (MainForm::working_files) goes with it to MainForm::result_files.
//
// Runs in time linear in the number of rows. When the digest list is shorter
// than the name list (a search that failed inside this search's scan left it
// so), it throws "List index out of bounds (N-1)" before writing anything.
void GroupDuplicates();

}  // namespace dupfind
