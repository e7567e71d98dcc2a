#pragma once

#include <QFont>

namespace dupfind {

// The font of both windows: "MS Sans Serif" at 11 pixels where it is
// installed, otherwise the system's sans-serif face at the same size.
QFont WindowFont();

}  // namespace dupfind
