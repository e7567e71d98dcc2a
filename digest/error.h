#pragma once

#include <stdexcept>
#include <string>

namespace dupfind {

// The one failure type of the program: it carries the text shown to the user.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace dupfind
