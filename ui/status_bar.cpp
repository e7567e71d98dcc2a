#include "ui/status_bar.h"

namespace dupfind {

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  repaint_.setSingleShot(true);
  repaint_.setInterval(1000 / kRepaintsPerSecond);
  connect(&repaint_, &QTimer::timeout, this, &TStatusBar::Show);
}

void TStatusBar::SetText(const std::string& text) {
  text_ = text;
  if (!repaint_.isActive()) repaint_.start();
}

void TStatusBar::Show() {
  showMessage(QString::fromStdString(text_));
}

}  // namespace dupfind
