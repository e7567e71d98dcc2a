#include "ui/link_label.h"

#include <QMouseEvent>

namespace dupfind {

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setMouseTracking(true);  // moves without a pressed button are reported too
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseMoveEvent(QMouseEvent* event) {
  emit MouseMove();
  QLabel::mouseMoveEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event) {
  emit MouseLeave();
  QLabel::leaveEvent(event);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit Click();
}

}  // namespace dupfind
