#include "search/search_command.h"

#include "search/grouping.h"
#include "search/main_form.h"
#include "search/scan.h"

namespace dupfind {

void SearchDuplicates() {
  MainForm& form = *Form1;
  form.ListBox1().Clear();
  form.ListBox2().Clear();
  form.ListBox3().Clear();
  form.ListBox4().Clear();
  form.ListBox5().Clear();
  form.ListBox6().Clear();
  form.ListBox7().Clear();
  form.ListBox8().Clear();
  form.ListBox9().Clear();
  ScanFolder(form.FolderText());
  GroupDuplicates();
  form.SetStatusText("Поиск дублей завершен");
}

}  // namespace dupfind
