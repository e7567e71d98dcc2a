#pragma once

#include <QApplication>

namespace dupfind {

// The application object: the windows' font for every window, Qt's own texts
// (dialog buttons, the folder chooser) in Russian, and a last guard around
// every event Qt delivers. Each command stops its own errors (see command.h);
// an error that still reaches notify ends the handling of that event there,
// is shown in an error box, and the program goes on with its next event.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace dupfind
