#pragma once

namespace dupfind {

// The delete command: deletes from disk the file of the selected result row
// of Form1 and removes the row from ListBox8, ListBox9 and ListBox7.
//
// With nothing selected it throws "List index out of bounds (-1)". A
// separator row is only removed. The file is digested again first and kept,
// with its row, when its content no longer matches the row ("File ... has
// changed since the search") or when it cannot be read or deleted ("Cannot
// ... file ..."). A file gone since the search just loses its row. A link is
// removed itself, never its target.
void DeleteSelected();

}  // namespace dupfind
