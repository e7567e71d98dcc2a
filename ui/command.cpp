#include "ui/command.h"

#include "ui/error_box.h"

namespace dupfind {

void ShowStoppedError(const std::string& message) noexcept {
  try {
    ShowErrorBox(message);
  } catch (...) {
  }
}

}  // namespace dupfind
