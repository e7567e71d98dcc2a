#include "search/scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <set>

#include "digest/md5.h"
#include "search/main_form.h"

namespace dupfind {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Listing = std::unique_ptr<DIR, DirCloser>;  // closed also when an error passes

class Walk {
 public:
  void Folder(const std::string& folder);

 private:
  void File(const std::string& folder, const std::string& name);

  std::set<FileIdentity> folders_seen_;
};

void Walk::Folder(const std::string& folder) {
  Listing listing(::opendir(folder.c_str()));
  if (!listing) return;
  struct stat status;
  if (::fstat(::dirfd(listing.get()), &status) != 0) return;
  if (!folders_seen_.insert({status.st_dev, status.st_ino}).second) return;

  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // Follows links; a dangling link or an entry gone since the listing is passed over.
    if (::fstatat(::dirfd(listing.get()), entry->d_name, &status, 0) != 0) continue;
    if (S_ISDIR(status.st_mode)) {
      Folder(folder + name + "/");
    } else if (S_ISREG(status.st_mode) &&
               Form1->recorded_files.insert({status.st_dev, status.st_ino}).second) {
      File(folder, name);
    }
  }
}

void Walk::File(const std::string& folder, const std::string& name) {
  MainForm& form = *Form1;
  form.ListBox1().Add(name);
  form.ListBox2().Add(folder);
  form.ListBox3().Add(DigestToText(DigestOfFile(folder + name)));
  form.SetStatusText(folder + name);
  form.ProcessMessages();
}

}  // namespace

void ScanFolder(const std::string& folder) {
  if (folder.empty()) return;
  Walk walk;
  walk.Folder(folder.back() == '/' ? folder : folder + "/");
}

}  // namespace dupfind
