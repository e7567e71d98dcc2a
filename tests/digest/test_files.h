#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "digest/error.h"

namespace dupfind::testing {

// A fresh folder under the temporary folder, removed with all it holds.
class TempFolder {
 public:
  TempFolder() : path_((std::filesystem::temp_directory_path() / "digest-test-XXXXXX").native()) {
    if (::mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << path_;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Creates `name` holding `content`; returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(*this / name, std::ios::binary) << content;
    return *this / name;
  }

 private:
  std::string path_;
};

// The message of the Error that `call` throws, or a marker when it throws none.
template <class Call>
std::string ErrorText(Call&& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.what();
  }
  return "<no error>";
}

}  // namespace dupfind::testing
