#include "digest/md5_lane_kernels.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "digest/md5_blocks.h"

namespace dupfind::lanes {
// Names the kernel of a failing case.
void PrintTo(const LaneKernel& kernel, std::ostream* out) {
  *out << kernel.name;
}
}  // namespace dupfind::lanes

namespace dupfind::test {
namespace {

using lanes::kStride;

// Every lane of every kernel against the scalar transform of its own blocks,
// from a state of its own: a lane that reads another lane's words, a wrong
// rotation or constant, or a second set mixed up with the first shows here.
// Words beyond the kernel's lanes must stay untouched.
class LaneKernelTest : public testing::TestWithParam<lanes::LaneKernel> {};

TEST_P(LaneKernelTest, TransformsEachLaneLikeTheScalarCode) {
  const lanes::LaneKernel& kernel = GetParam();
  if (!CanRun(kernel.set)) GTEST_SKIP() << "this processor cannot run " << kernel.name;
  std::mt19937 random(64);
  constexpr std::size_t kBlocks = 3;
  std::vector<std::uint32_t> state(4 * kStride);
  for (auto& word : state)
    word = random();
  const std::vector<std::uint32_t> before = state;
  // Each lane's blocks in a buffer of its own, at an odd address.
  std::vector<std::vector<std::uint8_t>> buffers(kernel.lanes);
  std::vector<const std::uint8_t*> blocks;
  for (auto& buffer : buffers) {
    buffer.resize(64 * kBlocks + 1);
    for (auto& byte : buffer)
      byte = static_cast<std::uint8_t>(random());
    blocks.push_back(buffer.data() + 1);
  }
  kernel.transform(state.data(), blocks.data(), kBlocks);
  for (std::size_t lane = 0; lane < kStride; ++lane) {
    std::uint32_t expected[4];
    for (std::size_t j = 0; j < 4; ++j)
      expected[j] = before[j * kStride + lane];
    if (lane < kernel.lanes) MD5TransformBlocks(expected, blocks[lane], kBlocks);
    for (std::size_t j = 0; j < 4; ++j)
      EXPECT_EQ(state[j * kStride + lane], expected[j]) << "lane " << lane << ", word " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, LaneKernelTest, testing::ValuesIn(lanes::LaneKernels()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dupfind::test
