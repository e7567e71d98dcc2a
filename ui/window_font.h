#pragma once

#include <QFont>

namespace dupfind {

// The font of both windows, 11 pixels high: "MS Sans Serif" where it is
// installed, else "Liberation Sans", else the system's sans-serif face.
QFont WindowFont();

}  // namespace dupfind
