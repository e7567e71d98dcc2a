#include "search/main_form.h"

namespace dupfind {

MainForm* Form1 = nullptr;

const FileStatus& MainForm::ResultFile(int row) const {
  const auto at = static_cast<std::size_t>(row);
  return recorded_files[at < result_files.size() ? result_files[at] : RecordedFiles::kNone];
}

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
  form.recorded_files.Clear();
  form.working_files.clear();
  form.result_files.clear();
}

void PlainForm::AwaitMessages(UserInput input) {
  if (on_await_messages && on_await_messages(input)) return;
  std::unique_lock<std::mutex> guard(wake_mutex_);
  woken_.wait(guard, [this] { return wake_pending_; });
  wake_pending_ = false;
}

void PlainForm::WakeUp() {
  const std::lock_guard<std::mutex> guard(wake_mutex_);
  wake_pending_ = true;
  woken_.notify_all();
}

}  // namespace dupfind
