#pragma once

namespace dupfind {

// The find command: empties the nine lists of Form1, scans the folder named
// in its folder field, groups the duplicates into the results and reports
// "Поиск дублей завершен" in the status line. An error from the scan ends
// the command with the results empty and the final status not set.
void SearchDuplicates();

}  // namespace dupfind
