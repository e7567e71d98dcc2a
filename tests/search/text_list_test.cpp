#include "search/text_list.h"

#include <gtest/gtest.h>

#include "tests/search/text_list_contract.h"

namespace dupfind::test {

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, TextListContract, ::testing::Types<MemoryList>);

// Whatever the list keeps in a compact form comes back as it went in: texts
// that look like digests but are not one, empty texts, runs of one text, a
// text longer than a block of the list's, one longer than a row's size can
// say, and all of them again after rows around them are deleted.
TEST(MemoryList, EveryTextComesBackAsItWentIn) {
  const Strings texts = {
      "900150983CD24FB0D6963F7D28E17F72",   // a digest text
      "900150983cd24fb0d6963f7d28e17f72",   // lower case: not one
      "900150983CD24FB0D6963F7D28E17F7",    // one digit short
      "900150983CD24FB0D6963F7D28E17F72A",  // one too many
      "900150983CD24FB0D6963F7D28E17G72",   // not hexadecimal
      "",
      "",
      "/a/folder/",
      "/a/folder/",
      "/a/folder/",
      std::string(3 << 20, 'L'),
      std::string((std::size_t{1} << 24) + 5, 'M'),
      std::string("with\0nul", 9),
      "after",
  };
  MemoryList list;
  for (const std::string& text : texts)
    list.Add(text);
  EXPECT_EQ(Rows(list), texts);
  list.DeleteAll({1, 5, 8, 10});
  Strings kept = texts;
  for (const int gone : {10, 8, 5, 1})
    kept.erase(kept.begin() + gone);
  EXPECT_EQ(Rows(list), kept);
}

// Deleting most of the bytes moves the rest into fresh blocks: an empty first
// row, a run sharing its bytes, a long row and the rows around them all come
// back as they went in.
TEST(MemoryList, RowsKeptWhenTheirBytesAreMovedAfterADelete) {
  Strings texts = {"", "first", "first"};
  for (char c = 'a'; c < 'a' + 20; ++c)
    texts.push_back(std::string(600 << 10, c));  // a block each, to be given back
  texts.push_back("900150983CD24FB0D6963F7D28E17F72");
  texts.push_back(std::string((std::size_t{1} << 24) + 5, 'M'));
  texts.push_back("last");
  MemoryList list;
  for (const std::string& text : texts)
    list.Add(text);
  std::vector<int> gone;
  for (int i = 3; i < 23; ++i)
    gone.push_back(i);
  list.DeleteAll(gone);
  texts.erase(texts.begin() + 3, texts.begin() + 23);
  EXPECT_TRUE(Rows(list) == texts);  // not printed: 16 MiB rows
  list.Add("after");
  texts.push_back("after");
  EXPECT_TRUE(Rows(list) == texts);  // not printed: 16 MiB rows
}

}  // namespace dupfind::test
