#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

namespace dupfind {

// The font of both windows, 11 pixels high: "MS Sans Serif" where it is
// installed, else "Liberation Sans", else the system's sans-serif face.
QFont WindowFont();

// Makes `window` a window of fixed client size `client` at the requested
// screen position, in the windows' font on the button-face background.
void SetUpWindow(QWidget& window, const char* name, const QString& caption, const QRect& client);

// Names a control and puts it at its place in its window's client area.
template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

}  // namespace dupfind
