#pragma once

#include <string>

namespace dupfind {

// Moves the entry `name` of the folder `folder` to a fresh private name in
// the same folder, never replacing anything, and returns that name; returns
// nothing when the entry has gone. `path` names the file in errors: "Cannot
// delete file ..." with the system's reason, or with the reason the file
// system cannot move it at all.
std::string MoveAside(int folder, const std::string& name, const std::string& path);

// Gives the entry `hidden` of `folder`, moved aside from `name`, its name
// back, unless another entry has taken that name meanwhile. When it cannot,
// it throws "Cannot restore file ..." naming where the file is kept.
void PutBack(int folder, const std::string& hidden, const std::string& name,
             const std::string& path);

}  // namespace dupfind
