#pragma once

#include <string>

#include "digest/error.h"

namespace dupfind {

// `path` made absolute against the current folder, joined and normalised as
// text; links are not resolved.
std::string AbsolutePath(const std::string& path);

// The system's description of `error_number`, without the trailing spaces,
// control characters and periods that would clash with the message's own end.
std::string SystemErrorText(int error_number);

// The error of a system call that failed on a file: the text the user sees,
// and the system's error number, for the program to tell failures apart.
class FileSystemError : public Error {
 public:
  FileSystemError(const std::string& message, int error_number)
      : Error(message), error_number_(error_number) {}
  int ErrorNumber() const { return error_number_; }

 private:
  int error_number_;
};

// An error with the text `<failure> "<absolute path>". <system text>`, e.g.
// FileError("Cannot open file", "a.txt", ENOENT) for
// `Cannot open file "/home/me/a.txt". No such file or directory`.
FileSystemError FileError(const std::string& failure, const std::string& path, int error_number);
// The same with a reason of the program's own in place of the system's text.
Error FileError(const std::string& failure, const std::string& path, const std::string& reason);

}  // namespace dupfind
