#pragma once

#include <QStatusBar>
#include <QTimer>

#include <string>

namespace dupfind {

// A one-line status bar whose text may change far more often than it is worth
// repainting (once per file of a scan). Text() is always the latest text; the
// bar shows it within a frame's time, at most kRepaintsPerSecond times a second.
// A text too long for the bar is cut at its start, so that the end of a path,
// the file's name, stays in sight; the whole text is the bar's tooltip and
// what assistive technology reads.
class TStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  static constexpr int kRepaintsPerSecond = 30;

  explicit TStatusBar(QWidget* parent = nullptr);

  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Show();

  std::string text_;
  QTimer repaint_;
};

}  // namespace dupfind
