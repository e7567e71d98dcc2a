#pragma once

#include <QString>

#include <functional>
#include <string>

namespace dupfind {

// The application title: the program file's name up to its first ".", every
// character after the first lowered ("DupFind.bin" -> "Dupfind").
QString ApplicationTitle(const QString& program_file_name);

// The text an error box shows for `message`: a "." is appended when the
// message is not empty and its last byte is above "." (letters, digits), so a
// message ending in ".", ")", a quote or a space is shown unchanged.
std::string ErrorBoxText(const std::string& message);

// Shows `message` in a modal box with a stop icon and one OK button, captioned
// with the application title, and returns when the user closes it.
void ShowErrorBox(const std::string& message);

// Where error boxes go. Tests install their own to read what would be shown
// without blocking; an empty function restores the modal box.
using ErrorBoxPresenter = std::function<void(const QString& caption, const QString& text)>;
void SetErrorBoxPresenter(ErrorBoxPresenter presenter);

}  // namespace dupfind
