#pragma once

#include <QLabel>

namespace dupfind {

// A label that reports the pointer moving over it, leaving it, and clicks.
class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  TLinkLabel(const QString& text, QWidget* parent);

 signals:
  void MouseMove();
  void MouseLeave();
  void Click();

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

}  // namespace dupfind
