#include "search/text_list.h"

#include <gtest/gtest.h>

#include "tests/search/text_list_contract.h"

namespace dupfind::test {

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, TextListContract, ::testing::Types<MemoryList>);

}  // namespace dupfind::test
