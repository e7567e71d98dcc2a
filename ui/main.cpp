// The program: the application object, the main window, the hidden About
// window, then the event loop until the main window is closed.

#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  dupfind::TApplication application(argc, argv);
  dupfind::TForm1 form1;
  dupfind::TForm2 form2;
  form1.show();
  return application.exec();
}
