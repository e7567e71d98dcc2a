#include "ui/application.h"

#include "ui/command.h"
#include "ui/qt_translation.h"
#include "ui/window_style.h"

namespace dupfind {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setFont(WindowFont());  // the chooser and the error boxes too
  LoadQtTranslation(*this);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  // Commands stop their own errors; this is the guard for anything else.
  bool handled = false;
  RunCommand([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}

}  // namespace dupfind
