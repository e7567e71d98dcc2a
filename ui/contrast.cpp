#include "ui/contrast.h"

#include <cmath>

namespace dupfind {
namespace {

double Linear(double channel) {
  return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour) {
  const QColor rgb = colour.toRgb();
  return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

QColor Mix(const QColor& from, const QColor& to, double share) {
  const auto channel = [share](double a, double b) { return a + (b - a) * share; };
  return QColor::fromRgbF(static_cast<float>(channel(from.redF(), to.redF())),
                          static_cast<float>(channel(from.greenF(), to.greenF())),
                          static_cast<float>(channel(from.blueF(), to.blueF())));
}

// Steps of 1/256 land on whole 8-bit channels; a little above the bound keeps
// rounding on the screen from taking the colour under it.
constexpr double kAim = kReadableContrast + 0.1;

}  // namespace

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableGrey(const QColor& background, const QColor& text) {
  for (int step = 1; step < 256; ++step) {
    const QColor grey = Mix(background, text, step / 256.0);
    if (Contrast(grey, background) >= kAim) return grey;
  }
  return text;
}

QColor ReadableLink(const QColor& background, const QColor& link) {
  const QColor blue(Qt::blue);
  if (Contrast(blue, background) >= kAim) return blue;
  if (Contrast(link, background) >= kAim) return link;
  // Lighter and lighter blues, towards sky blue, as dark themes draw links.
  constexpr int kSkyBlueHue = 215;
  for (int lightness = 128; lightness < 256; ++lightness) {
    const QColor lighter = QColor::fromHsl(kSkyBlueHue, 255, lightness);
    if (Contrast(lighter, background) >= kAim) return lighter;
  }
  return Qt::white;
}

}  // namespace dupfind
