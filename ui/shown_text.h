#pragma once

#include <QString>

#include <string>

namespace dupfind {

// File names and the texts built from them stay the file system's bytes; the
// window decodes them only to show them. Bytes that are not valid UTF-8 are
// shown as U+FFFD.
QString ShownText(const std::string& bytes);

// The bytes of a path the user typed or picked, as the file system spells it.
std::string PathBytes(const QString& text);

}  // namespace dupfind
