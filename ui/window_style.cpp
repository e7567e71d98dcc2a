#include "ui/window_style.h"

#include <QFontDatabase>
#include <QStringList>

#include "ui/normal_state.h"

namespace dupfind {

QFont WindowFont() {
  // Liberation Sans is as wide as the original face at this size, so the
  // texts fill their controls as they were laid out.
  const QStringList families = QFontDatabase::families();
  QFont font;
  font.setStyleHint(QFont::SansSerif);
  for (const char* family : {"MS Sans Serif", "Liberation Sans"}) {
    if (families.contains(QString::fromLatin1(family))) {
      font.setFamily(QString::fromLatin1(family));
      break;
    }
  }
  font.setPixelSize(11);
  return font;
}

void SetUpWindow(QWidget& window, const char* name, const QString& caption, const QRect& client) {
  window.setObjectName(QString::fromLatin1(name));
  window.setWindowTitle(caption);
  window.setFont(WindowFont());
  window.setBackgroundRole(QPalette::Button);
  window.setAutoFillBackground(true);
  window.setFixedSize(client.size());
  KeepNormalState(window);
  window.move(client.topLeft());  // a request: window managers may place it elsewhere
}

}  // namespace dupfind
