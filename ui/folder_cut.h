#pragma once

#include <QFontMetrics>
#include <QString>

#include <span>
#include <string_view>

namespace dupfind {

// How the folder `group[row]` of a group of result rows is shown in `width`
// pixels. A folder that fits is shown whole. One that does not, in a group
// whose other rows are all in the same folder, keeps its end, the folders
// nearest the file. Otherwise rows whose folders differ are told apart: the
// beginning that all the group's folders share gives way to "…", the folder
// is shown from the first folder name in which they part, and it is cut in
// the middle of what follows the character that sets it apart from the
// folder nearest to it. Rows that share a folder look the same.
QString CutFolder(std::span<const std::string_view> group, std::size_t row,
                  const QFontMetrics& metrics, int width);

}  // namespace dupfind
