// The visible list keeps the rules of every list, with Qt's model checker
// watching every change its rows go through.

#include "ui/list_box.h"

#include <QAbstractItemModelTester>
#include <QApplication>

#include <gtest/gtest.h>

#include "tests/search/text_list_contract.h"

namespace dupfind::test {

class CheckedListBox : public TListBox {
 public:
  CheckedListBox() = default;

 private:
  QAbstractItemModelTester checker_{model(), QAbstractItemModelTester::FailureReportingMode::Fatal};
};

INSTANTIATE_TYPED_TEST_SUITE_P(ListBox, TextListContract, ::testing::Types<CheckedListBox>);

}  // namespace dupfind::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
