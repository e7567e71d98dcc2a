#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "digest/file_stream.h"
#include "search/lingering_threads.h"
#include "search/recorded_files.h"
#include "search/text_list.h"

namespace dupfind {

// What the search commands reach of the main window: its nine lists, the
// folder field, the status line and the call that lets pending events run.
// ListBox1-3 are the working rows (name, folder, digest text), ListBox4-6 the
// group being collected, ListBox7-9 the results the user sees.
class MainForm {
 public:
  virtual ~MainForm() = default;

  virtual TextList& ListBox1() = 0;
  virtual TextList& ListBox2() = 0;
  virtual TextList& ListBox3() = 0;
  virtual TextList& ListBox4() = 0;
  virtual TextList& ListBox5() = 0;
  virtual TextList& ListBox6() = 0;
  virtual TextList& ListBox7() = 0;
  virtual TextList& ListBox8() = 0;
  virtual TextList& ListBox9() = 0;

  virtual std::string FolderText() const = 0;  // Edit1
  virtual void SetFolderText(const std::string& text) = 0;
  virtual std::string StatusText() const = 0;  // StatusBar1
  virtual void SetStatusText(const std::string& text) = 0;

  // Lets the window handle what is pending (repaint, clicks) and returns.
  virtual void ProcessMessages() = 0;

  // What the window does with the user's keys and clicks while it waits.
  enum class UserInput {
    kHandle,  // as ProcessMessages does: a command the user starts runs at once
    kHold,    // kept queued until a later ProcessMessages or the event loop
  };
  // Waits on the window thread for something to happen, handling the
  // window's events meanwhile: returns once it has handled some, or once
  // WakeUp has been called since the last return. Never spins.
  virtual void AwaitMessages(UserInput input) = 0;
  // Makes the current or the next AwaitMessages return. Safe from any thread.
  virtual void WakeUp() = 0;

  // The files given a row since the lists were last emptied. A scan gives no
  // file a second row, also when it goes on after a search that ran nested
  // inside it and recorded files of its own.
  RecordedFiles recorded_files;

  // The file each row was read from, as its number in recorded_files, beside
  // the rows as they move: one per working row with a digest (parallel to
  // ListBox3), and one per result row (parallel to ListBox7-9; a separator,
  // or a row no scan gave, has RecordedFiles::kNone). The delete command
  // removes only the file its row was read from. (In blocks, not one array:
  // a million of them never move, nor wait for room twice their size.)
  std::deque<std::uint32_t> working_files;
  std::deque<std::uint32_t> result_files;

  // The file result row `row` was read from, as it was then.
  const FileStatus& ResultFile(int row) const;

  // The reading threads of ended searches still inside a system call.
  LingeringThreads lingering_threads;
};

// Empties ListBox1 to ListBox9, in this order, and forgets the recorded files.
void ClearLists(MainForm& form);

// The one main window. The search commands work on it; whoever creates the
// window points this at it.
extern MainForm* Form1;

// The main window without a window system: plain lists and texts. Its event
// call runs `on_process_messages`, which does nothing unless set. Its wait
// first runs `on_await_messages`, where a test can act as a user would while
// the window waits, and returns if that says it did something; otherwise it
// blocks until WakeUp.
class PlainForm : public MainForm {
 public:
  TextList& ListBox1() override { return lists_[0]; }
  TextList& ListBox2() override { return lists_[1]; }
  TextList& ListBox3() override { return lists_[2]; }
  TextList& ListBox4() override { return lists_[3]; }
  TextList& ListBox5() override { return lists_[4]; }
  TextList& ListBox6() override { return lists_[5]; }
  TextList& ListBox7() override { return lists_[6]; }
  TextList& ListBox8() override { return lists_[7]; }
  TextList& ListBox9() override { return lists_[8]; }

  std::string FolderText() const override { return folder_; }
  void SetFolderText(const std::string& text) override { folder_ = text; }
  std::string StatusText() const override { return status_; }
  void SetStatusText(const std::string& text) override { status_ = text; }

  void ProcessMessages() override {
    if (on_process_messages) on_process_messages();
  }
  void AwaitMessages(UserInput input) override;
  void WakeUp() override;

  std::function<void()> on_process_messages;
  std::function<bool(UserInput)> on_await_messages;

 private:
  MemoryList lists_[9];
  std::string folder_;
  std::string status_;

  std::mutex wake_mutex_;
  std::condition_variable woken_;
  bool wake_pending_ = false;  // guarded by wake_mutex_
};

}  // namespace dupfind
