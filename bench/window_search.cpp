// Runs the find command in the real main window, as a click on "Найти" would,
// and prints the files found and the seconds taken, to be set beside
// headless_search on the same tree.

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/application.h"
#include "ui/error_box.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  dupfind::TApplication application(argc, argv);
  bool failed = false;
  dupfind::SetErrorBoxPresenter([&failed](const QString&, const QString& text) {
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    failed = true;
  });
  dupfind::TForm1 form1;
  dupfind::TForm2 form2;
  form1.show();
  QCoreApplication::processEvents();
  form1.SetFolderText(argv[1]);

  // The click runs from the event loop, as a user's would, so an error ends
  // in the error box above.
  std::chrono::duration<double> seconds{};
  bool done = false;
  QTimer::singleShot(0, &form1, [&] {
    const auto start = std::chrono::steady_clock::now();
    form1.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
    seconds = std::chrono::steady_clock::now() - start;
    done = true;
  });
  while (!done && !failed)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (failed) return 1;

  int files = form1.ListBox1().Count();
  for (int i = 0; i < form1.ListBox8().Count(); ++i)
    files += form1.ListBox8().Get(i) != "---";
  std::fprintf(stderr, "files %d, seconds %.3f\n", files, seconds.count());
  return 0;
}
