#include "digest/file_error.h"

#include <string.h>
#include <filesystem>

namespace dupfind {

std::string AbsolutePath(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::path absolute = fs::absolute(fs::path(path), ignored);
  if (absolute.empty()) absolute = fs::path(path);  // no current folder: keep the text as given
  return absolute.lexically_normal().native();
}

std::string SystemErrorText(int error_number) {
  char buffer[256];
  std::string text =
      ::strerror_r(error_number, buffer, sizeof buffer);  // strerror is not thread-safe
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last != ' ' && last != '.' && last >= 0x20 && last != 0x7F) break;
    text.pop_back();
  }
  return text;
}

FileSystemError FileError(const std::string& failure, const std::string& path, int error_number) {
  return FileSystemError(FileError(failure, path, SystemErrorText(error_number)).what(),
                         error_number);
}

Error FileError(const std::string& failure, const std::string& path, const std::string& reason) {
  return Error(failure + " \"" + AbsolutePath(path) + "\". " + reason);
}

}  // namespace dupfind
