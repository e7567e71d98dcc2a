#include "ui/window_font.h"

#include <QFontDatabase>
#include <QStringList>

namespace dupfind {

QFont WindowFont() {
  QFont font;
  if (QFontDatabase::families().contains(QStringLiteral("MS Sans Serif"))) {
    font.setFamily(QStringLiteral("MS Sans Serif"));
  } else {
    font.setFamilies({QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPixelSize(11);
  return font;
}

}  // namespace dupfind
