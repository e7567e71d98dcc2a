#pragma once

namespace dupfind {

// The delete command: deletes from disk the file of the selected result row
// of Form1 and removes the row from ListBox8, ListBox9 and ListBox7 (and its
// file from MainForm::result_files).
//
// With nothing selected it throws "List index out of bounds (-1)". A
// separator row is only removed. Only the very file the row was read from is
// deleted: when the row's path now leads to another file, or to content that
// no longer matches the row, the file is kept with its row ("File ... has
// changed since the search"); so it is when it cannot be read or deleted
// ("Cannot ... file ..."). The entry is moved aside to a private name before
// it is checked, so another file put at its name meanwhile is never deleted.
// A file gone since the search just loses its row. A link is removed itself,
// never its target.
void DeleteSelected();

}  // namespace dupfind
