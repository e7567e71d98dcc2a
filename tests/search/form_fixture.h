#pragma once

// The Form1 fixture of the search tests, and the texts they read from it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "search/main_form.h"
#include "tests/support/temp_dir.h"

namespace dupfind::test {

// Digest texts of the contents the tests write.
inline constexpr char kEmptyDigest[] = "D41D8CD98F00B204E9800998ECF8427E";  // MD5 of ""
inline constexpr char kADigest[] = "0CC175B9C0F1B6A831C399E269772661";      // of "a"
inline constexpr char kAbcDigest[] = "900150983CD24FB0D6963F7D28E17F72";    // of "abc"

inline Strings Rows(const TextList& list) {
  Strings rows;
  for (int i = 0; i < list.Count(); ++i)
    rows.push_back(list.Get(i));
  return rows;
}

// ListBox1 to ListBox9 of `form`, in this order.
inline std::vector<TextList*> AllLists(MainForm& form) {
  return {&form.ListBox1(), &form.ListBox2(), &form.ListBox3(), &form.ListBox4(), &form.ListBox5(),
          &form.ListBox6(), &form.ListBox7(), &form.ListBox8(), &form.ListBox9()};
}

// Points Form1 at a fresh plain form for each test and leaves it unset after.
class FormTest : public ::testing::Test {
 protected:
  void SetUp() override { Form1 = &form; }
  void TearDown() override { Form1 = nullptr; }

  PlainForm form;
};

}  // namespace dupfind::test
