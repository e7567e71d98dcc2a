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

void TStatusBar::resizeEvent(QResizeEvent* event) {
  QStatusBar::resizeEvent(event);
  Show();
}

void TStatusBar::Show() {
  const QString whole = ShownText(text_);
  // The accessible name first: the message's change announces the name.
  setAccessibleName(whole);
  setToolTip(whole);
  // QStatusBar writes its message from 6 pixels in to 12 short of its right edge.
  const int width = contentsRect().width() - 18;
  showMessage(fontMetrics().elidedText(whole, Qt::ElideLeft, width));
}

}  // namespace dupfind
