// The headless runner, run as its own process on small trees.

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/search/form_fixture.h"

namespace dupfind::test {
namespace {

struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

Outcome RunHeadless(const std::string& folder) {
  TempDir capture;
  const std::string err = capture.folder() + "err";
  Outcome outcome;
  // Temporary paths hold no quotes.
  FILE* out = ::popen(("'" HEADLESS_SEARCH_PATH "' '" + folder + "' 2>'" + err + "'").c_str(), "r");
  if (out == nullptr) return outcome;
  char buffer[4096];
  while (std::size_t size = std::fread(buffer, 1, sizeof buffer, out))
    outcome.out.append(buffer, size);
  const int status = ::pclose(out);
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ostringstream text;
  text << std::ifstream(err).rdbuf();
  outcome.err = text.str();
  return outcome;
}

TEST(HeadlessSearchTest, PrintsTheResultRowsAndASummary) {
  TempDir tree;
  tree.File("a.txt", "abc");
  tree.File("b.txt", "abc");
  tree.File("c.txt", "a");
  tree.File("d.txt", "");
  std::string copies;  // the pair, latest scanned first
  for (const std::string& name : Listing(tree.path())) {
    if (name == "a.txt" || name == "b.txt")
      copies = name + "\t" + tree.folder() + "\t" + kAbcDigest + "\n" + copies;
  }

  const Outcome outcome = RunHeadless(tree.path());
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out, copies + "---\t---\t---\n");
  EXPECT_TRUE(std::regex_match(outcome.err, std::regex("files 4, seconds [0-9]+\\.[0-9]+\n")))
      << outcome.err;
}

TEST(HeadlessSearchTest, LockedFileEndsItWithTheErrorAndExitCodeOne) {
  TempDir tree;
  tree.File("a", "abc");
  const std::string locked = tree.File("b", "abc");
  FileLock lock(locked);
  const Outcome outcome = RunHeadless(tree.path());
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, LockedError(locked) + "\n");
}

}  // namespace
}  // namespace dupfind::test
