#pragma once

#include <QApplication>

namespace dupfind {

// The application object. Every event Qt delivers passes through notify, and
// an error raised while one is handled ends that handling there: it is shown
// in an error box and the program goes on with its next event. No exception
// ever crosses the event loop.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace dupfind
