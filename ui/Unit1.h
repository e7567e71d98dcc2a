#pragma once

#include <QWidget>

#include <string>

#include "search/main_form.h"

class QAbstractEventDispatcher;
class QLabel;
class QLineEdit;

namespace dupfind {

class TButton;
class TListBox;
class TStatusBar;

// The main window: the folder field, the five command buttons, the three
// result columns and the status line. It is the MainForm the search commands
// work on; the six working lists it keeps are never shown.
class TForm1 : public QWidget, public MainForm {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  TextList& ListBox1() override { return list_box1_; }
  TextList& ListBox2() override { return list_box2_; }
  TextList& ListBox3() override { return list_box3_; }
  TextList& ListBox4() override { return list_box4_; }
  TextList& ListBox5() override { return list_box5_; }
  TextList& ListBox6() override { return list_box6_; }
  TextList& ListBox7() override;
  TextList& ListBox8() override;
  TextList& ListBox9() override;

  std::string FolderText() const override;
  void SetFolderText(const std::string& text) override;
  std::string StatusText() const override;
  void SetStatusText(const std::string& text) override;
  void ProcessMessages() override;
  void AwaitMessages(UserInput input) override;
  void WakeUp() override;

 public slots:
  void Button1Click();  // choose a folder
  void Button2Click();  // find duplicates
  void Button3Click();  // clear the form
  void Button4Click();  // delete the selected file
  void Button5Click();  // about

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // What result row `position` of `column` gives beside its text: the whole
  // row as its tooltip, and for assistive technology the end of a group for
  // a separator, the folder and digest of a name.
  QVariant RowData(const TListBox* column, int position, int role) const;

  MemoryList list_box1_, list_box2_, list_box3_, list_box4_, list_box5_, list_box6_;

  QLabel* Label1;
  QLineEdit* Edit1;
  TButton* Button1;
  TButton* Button2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  TListBox* ListBox7_;
  TListBox* ListBox8_;
  TListBox* ListBox9_;
  TButton* Button4;
  TButton* Button3;
  TButton* Button5;
  TStatusBar* StatusBar1;

  QAbstractEventDispatcher* const dispatcher_;  // the window thread's, which WakeUp wakes
  class Running;
  int commands_running_ = 0;  // searches and deletes, a close waits for them
  bool close_requested_ = false;
};

}  // namespace dupfind
