#include "search/scan.h"

#include <string>

#include "digest/md5.h"
#include "search/main_form.h"
#include "search/read_ahead.h"

namespace dupfind {
namespace {

// Gives the file its row: name, folder, then digest, status and events. A
// file met before gets none; one that could not be opened or read ends the
// scan with its error, its name and folder appended.
void Record(ReadAhead& ahead, const FileEntry& entry, FileOutcome outcome) {
  MainForm& form = *Form1;
  std::uint32_t number = RecordedFiles::kNone;
  switch (outcome.kind) {
    case FileOutcome::Kind::kNotAFile:
      return;
    case FileOutcome::Kind::kFolder:
      ahead.EnterFolder(entry.name);
      return;
    case FileOutcome::Kind::kUnopened:
      break;
    case FileOutcome::Kind::kFile:
      number = form.recorded_files.Record(outcome.status);
      if (number == RecordedFiles::kNone) return;  // met before
      break;
  }
  const std::string path = entry.Path();
  form.ListBox1().Add(entry.name);
  form.ListBox2().Add(entry.folder->text);
  if (!outcome.error.empty()) throw Error(outcome.error);
  form.ListBox3().Add(DigestToText(outcome.digest));
  form.working_files.push_back(number);
  form.SetStatusText(path);
  form.ProcessMessages();
}

}  // namespace

void ScanFolder(const std::string& folder) {
  if (folder.empty()) return;
  ReadAhead ahead(*Form1, folder.back() == '/' ? folder : folder + "/");
  for (ScanStep step; ahead.Next(step);) {
    if (step.walk.kind == WalkStep::Kind::kFile) {
      Record(ahead, step.walk.file, std::move(step.outcome));
    }
  }
}

}  // namespace dupfind
