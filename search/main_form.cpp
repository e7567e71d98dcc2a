#include "search/main_form.h"

namespace dupfind {

MainForm* Form1 = nullptr;

void ClearLists(MainForm& form) {
  form.ListBox1().Clear();
  form.ListBox2().Clear();
  form.ListBox3().Clear();
  form.ListBox4().Clear();
  form.ListBox5().Clear();
  form.ListBox6().Clear();
  form.ListBox7().Clear();
  form.ListBox8().Clear();
  form.ListBox9().Clear();
  form.recorded_files.clear();
  form.working_files.clear();
  form.result_files.clear();
}

}  // namespace dupfind
