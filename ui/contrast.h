#pragma once

#include <QColor>

namespace dupfind {

// The contrast ratio of two colours as WCAG 2 defines it, from 1 (the same
// luminance) to 21 (black on white).
double Contrast(const QColor& a, const QColor& b);

// The least contrast the windows give text the user has to read.
inline constexpr double kReadableContrast = 4.5;

// Greyed text that is still readable: the colour between `background` and
// `text` nearest the background that reaches kReadableContrast, so that it
// looks fainter than `text` where `text` has contrast to spare. `text` itself
// when even it does not reach it.
QColor ReadableGrey(const QColor& background, const QColor& text);

// A link's colour on `background`: blue where blue is readable there (a light
// background), else the theme's `link` colour where that is readable, else a
// blue light enough to be.
QColor ReadableLink(const QColor& background, const QColor& link);

}  // namespace dupfind
