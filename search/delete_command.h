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
// ("Cannot ... file ...", with the system's reason). Unless the row is the
// last of its group, another row of the group must still lead to the very
// file it was read from, unchanged ("File ... is kept: no other copy of it is
// unchanged since the search"), and must still do so once the file is moved
// aside ("File ... is the same file as ...": one file seen through two
// mounts). A file gone since the search just loses its row. A link is
// removed itself, never its target.
//
// The file is read whole, locked, on a thread of its own while the window
// waits holding the user's input; then it is moved aside to a private name,
// checked to be the file read, unchanged, and unlinked: it spends a few calls
// under that name, and a file put at its name meanwhile is never deleted.
void DeleteSelected();

}  // namespace dupfind
