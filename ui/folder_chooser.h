#pragma once

#include <QString>

#include <functional>
#include <string>

namespace dupfind {

// Asks the user for a folder in a modal chooser titled `title` that starts at
// the top of the file system and confirms only folders; every other window of
// the program is disabled meanwhile. Returns the folder's path as the file
// system's own bytes, or empty text when the user cancels. A chosen folder
// whose name does not lead back to it (not valid UTF-8, or gone meanwhile)
// throws "Cannot open folder ...".
std::string AskForFolder(const QString& title);

// The chooser itself: returns the chosen path, or an empty string. Tests
// install their own to answer without a dialog; an empty function restores
// the real one.
using FolderChooser = std::function<QString(const QString& title)>;
void SetFolderChooser(FolderChooser chooser);

}  // namespace dupfind
