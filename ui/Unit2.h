#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace dupfind {

class TLinkLabel;

// The About window: what the program does, its version and date, how to
// reach the project and how to help it. A window of its own, shown without
// modality and hidden, not destroyed, when closed.
class TForm2 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  // Shows the window in its normal state, in front and active, whatever
  // state it was in: hidden, behind others or minimised.
  void ShowAbout();

 public slots:
  void Label5MouseMove();
  void Label5MouseLeave();
  void Label5Click();
  void Label7MouseMove();
  void Label7MouseLeave();
  void Label7Click();

 private:
  QLabel* Label1;
  QLabel* Label8;
  QPlainTextEdit* Memo1;
  QLabel* Label2;
  QLabel* Label6;
  QLabel* Label3;
  QLabel* Label4;
  TLinkLabel* Label5;
  TLinkLabel* Label7;
  QLabel* Label9;
  QPlainTextEdit* Memo2;

  QPointer<QWidget> last_text_box_;  // where the focus goes when the window comes back
};

// The one About window, created hidden at start-up.
extern TForm2* Form2;

}  // namespace dupfind
