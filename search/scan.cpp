#include "search/scan.h"

#include <optional>
#include <string>

#include "digest/md5.h"
#include "search/file_work.h"
#include "search/folder_walk.h"
#include "search/main_form.h"
#include "search/read_ahead.h"

namespace dupfind {
namespace {

// Gives the file its row: name, folder, then digest, status and events. A
// file met before gets none; one that could not be opened or read ends the
// scan with its error, its name and folder appended.
void Record(FolderWalk& walk, const FileEntry& entry, FileOutcome outcome) {
  MainForm& form = *Form1;
  switch (outcome.kind) {
    case FileOutcome::Kind::kNotAFile:
    case FileOutcome::Kind::kBusy:
      return;
    case FileOutcome::Kind::kFolder:
      walk.EnterFolder(entry);
      return;
    case FileOutcome::Kind::kUnopened:
      break;
    case FileOutcome::Kind::kFile:
      if (!form.recorded_files.insert(outcome.status.identity).second) return;
      break;
  }
  const std::string path = entry.Path();
  form.ListBox1().Add(entry.name);
  form.ListBox2().Add(entry.folder->text);
  if (!outcome.error.empty()) throw Error(outcome.error);
  form.ListBox3().Add(DigestToText(outcome.digest));
  form.working_files.push_back(outcome.status);
  form.SetStatusText(path);
  form.ProcessMessages();
}

}  // namespace

void ScanFolder(const std::string& folder) {
  if (folder.empty()) return;
  FolderWalk walk(folder.back() == '/' ? folder : folder + "/");
  ReadAhead ahead(walk);
  FileEntry entry;
  while (walk.Next(entry)) {
    std::optional<FileOutcome> outcome = ahead.Take(entry, walk);
    Record(walk, entry, outcome ? std::move(*outcome) : ReadEntry(entry));
  }
}

}  // namespace dupfind
