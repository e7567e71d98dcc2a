// Runs the find command on a window-less main form and prints the results:
// one row a line, name TAB folder TAB digest text, bytes as they are. A
// summary (files digested, seconds) goes to standard error. A tool for tests
// and benchmarks; the program itself reads no command line. Its own work
// besides the search is counting the files and printing the rows.

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "search/main_form.h"
#include "search/search_command.h"

namespace {

void PrintRow(const std::string& name, const std::string& folder, const std::string& digest) {
  std::fwrite(name.data(), 1, name.size(), stdout);
  std::fputc('\t', stdout);
  std::fwrite(folder.data(), 1, folder.size(), stdout);
  std::fputc('\t', stdout);
  std::fwrite(digest.data(), 1, digest.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  dupfind::PlainForm form;
  dupfind::Form1 = &form;
  form.SetFolderText(argv[1]);
  long files = 0;
  form.on_process_messages = [&files] { ++files; };  // called once per digested file

  const auto start = std::chrono::steady_clock::now();
  try {
    dupfind::SearchDuplicates();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

  for (int i = 0; i < form.ListBox7().Count(); ++i) {
    PrintRow(form.ListBox7().Get(i), form.ListBox8().Get(i), form.ListBox9().Get(i));
  }
  std::fflush(stdout);
  std::fprintf(stderr, "files %ld, seconds %.3f\n", files, seconds.count());
  return 0;
}
