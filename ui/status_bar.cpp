#include "ui/status_bar.h"

#include "ui/command.h"
#include "ui/shown_text.h"

namespace dupfind {

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  repaint_.setSingleShot(true);
  repaint_.setInterval(1000 / kRepaintsPerSecond);
  ConnectCommand(&repaint_, &QTimer::timeout, this, &TStatusBar::Show);
}

void TStatusBar::SetText(const std::string& text) {
  text_ = text;
  if (!repaint_.isActive()) repaint_.start();
}

void TStatusBar::Show() {
  showMessage(ShownText(text_));
}

}  // namespace dupfind
