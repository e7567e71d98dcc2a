#pragma once

#include <QPushButton>

namespace dupfind {

// A push button that is never a default button, yet runs its command on
// Enter, as on a click, while it holds the keyboard focus.
class TButton : public QPushButton {
  Q_OBJECT

 public:
  TButton(const QString& text, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace dupfind
