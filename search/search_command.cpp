#include "search/search_command.h"

#include "search/grouping.h"
#include "search/main_form.h"
#include "search/scan.h"

namespace dupfind {

void SearchDuplicates() {
  MainForm& form = *Form1;
  ClearLists(form);
  ScanFolder(form.FolderText());
  GroupDuplicates();
  form.SetStatusText("Поиск дублей завершен");
}

}  // namespace dupfind
