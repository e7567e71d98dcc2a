#include "digest/md5_lanes.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/openssl_md5.h"
#include "tests/support/temp_dir.h"

namespace dupfind {
// Names the kernel of a failing case.
void PrintTo(Md5Kernel kernel, std::ostream* out) {
  *out << KernelName(kernel);
}
}  // namespace dupfind

namespace dupfind::test {
namespace {

std::string RandomBytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes)
    byte = static_cast<char>(random());
  return bytes;
}

// Digests `messages` the way a reader of files would: each of the `lanes` in
// turn is started on the next message as soon as it is free and given the
// message in pieces of piece_size() bytes, each piece in a buffer of its own,
// exactly as long as the piece, at an odd address. As soon as the lane is no
// longer kHasInput the buffer is overwritten and freed: a lane that still
// needed it gives a wrong digest (or, under AddressSanitizer, an error).
class Feeder {
 public:
  Feeder(Md5Lanes& engine, std::vector<std::size_t> lanes, std::mt19937& random)
      : engine_(engine), lanes_(std::move(lanes)), random_(random), jobs_(engine.Lanes()) {}

  std::function<std::size_t()> piece_size = [] { return SIZE_MAX; };

  std::vector<Digest> DigestAll(const std::vector<std::string>& messages) {
    std::vector<Digest> digests(messages.size());
    std::size_t next = 0, done = 0;
    while (done < messages.size()) {
      for (const std::size_t lane : lanes_) {
        Job& job = jobs_[lane];
        if (engine_.State(lane) != LaneState::kHasInput) job.Release();
        if (engine_.State(lane) == LaneState::kDone) {
          digests[job.message] = engine_.Take(lane);
          ++done;
        }
        if (engine_.State(lane) == LaneState::kIdle && next < messages.size()) {
          engine_.Start(lane);
          job = Job{};
          job.message = next++;
        }
        if (engine_.State(lane) == LaneState::kNeedsMore) Supply(lane, messages[job.message]);
      }
      engine_.Run();
    }
    return digests;
  }

 private:
  struct Job {
    std::size_t message = 0;
    std::size_t sent = 0;
    std::unique_ptr<char[]> buffer;
    std::size_t buffer_size = 0;

    void Release() {
      if (buffer) std::memset(buffer.get(), 0xA5, buffer_size);
      buffer.reset();
    }
  };

  void Supply(std::size_t lane, const std::string& message) {
    Job& job = jobs_[lane];
    const std::size_t size = std::min(piece_size(), message.size() - job.sent);
    const std::size_t offset = 1 + random_() % 15;
    job.buffer_size = offset + size;
    job.buffer = std::make_unique<char[]>(job.buffer_size);
    std::memcpy(job.buffer.get() + offset, message.data() + job.sent, size);
    job.sent += size;
    // The whole message is sometimes followed by an empty last piece.
    const bool last = job.sent == message.size() && random_() % 4 != 0;
    engine_.Supply(lane, job.buffer.get() + offset, size, last);
  }

  Md5Lanes& engine_;
  std::vector<std::size_t> lanes_;
  std::mt19937& random_;
  std::vector<Job> jobs_;
};

std::vector<std::size_t> AllLanes(const Md5Lanes& engine) {
  std::vector<std::size_t> lanes(engine.Lanes());
  for (std::size_t i = 0; i < lanes.size(); ++i)
    lanes[i] = i;
  return lanes;
}

void ExpectOpenSslDigests(const std::vector<std::string>& messages,
                          const std::vector<Digest>& digests) {
  for (std::size_t i = 0; i < messages.size(); ++i)
    EXPECT_EQ(digests[i], OpenSslMd5(messages[i]))
        << "message " << i << " of " << messages[i].size() << " bytes";
}

class Md5LanesTest : public testing::TestWithParam<Md5Kernel> {
 protected:
  void SetUp() override {
    if (!CanRun(GetParam())) GTEST_SKIP() << "this processor cannot run " << KernelName(GetParam());
  }
};

// Whole messages of every length around the one- and two-block padding and
// around 4096, in lanes side by side.
TEST_P(Md5LanesTest, PadsEveryLengthAroundTheBlockEnds) {
  std::mt19937 random(1321);
  std::vector<std::string> messages;
  for (std::size_t size = 0; size <= 129; ++size)
    messages.push_back(RandomBytes(random, size));
  for (std::size_t size = 4096 - 72; size <= 4096 + 72; ++size)
    messages.push_back(RandomBytes(random, size));
  Md5Lanes engine(GetParam());
  Feeder feeder(engine, AllLanes(engine), random);
  ExpectOpenSslDigests(messages, feeder.DigestAll(messages));
}

// Messages of unequal lengths in pieces of odd sizes, each lane refilled as
// soon as its message is done, the lanes busy in every number from all down
// to one as the last messages finish.
TEST_P(Md5LanesTest, RefillsLanesWithMessagesInPiecesOfAnySize) {
  std::mt19937 random(4096);
  std::vector<std::string> messages;
  for (int i = 0; i < 150; ++i) {
    const std::size_t size = i % 10 == 0 ? 20000 + random() % 50000 : random() % 1500;
    messages.push_back(RandomBytes(random, size));
  }
  Md5Lanes engine(GetParam());
  for (const std::size_t largest : {1, 63, 65, 200, 4096}) {
    Feeder feeder(engine, AllLanes(engine), random);
    feeder.piece_size = [&] {
      return random() % 4 == 0 ? 64 * (random() % 8) : random() % (largest + 1);
    };
    ExpectOpenSslDigests(messages, feeder.DigestAll(messages));
  }
}

// A message taken out of a lane between pieces goes on in any lane of this
// engine or of a scalar one, or with MD5Update, and gives its digest.
TEST_P(Md5LanesTest, SuspendedMessagesGoOnInAnyLaneOrWithMD5Update) {
  std::mt19937 random(2718);
  Md5Lanes engines[] = {Md5Lanes(GetParam()), Md5Lanes(Md5Kernel::kScalar)};
  for (int round = 0; round < 200; ++round) {
    const std::string message =
        RandomBytes(random, random() % 3 == 0 ? random() % 130 : random() % 9000);
    MD5Context context;
    MD5Init(context);
    std::size_t sent = 0;
    Digest digest{};
    for (bool finished = false; !finished;) {
      if (random() % 8 == 0) {  // the rest without lanes
        MD5Update(context, message.data() + sent, message.size() - sent);
        MD5Final(digest, context);
        break;
      }
      Md5Lanes& engine = engines[random() % 2];
      const std::size_t lane = random() % engine.Lanes();
      engine.Resume(lane, context);
      const std::size_t size = std::min<std::size_t>(random() % 300, message.size() - sent);
      finished = sent + size == message.size();
      engine.Supply(lane, message.data() + sent, size, finished);
      sent += size;
      while (engine.State(lane) == LaneState::kHasInput)
        engine.Run();
      if (finished) {
        digest = engine.Take(lane);
      } else {
        context = engine.Suspend(lane);
      }
    }
    EXPECT_EQ(digest, OpenSslMd5(message)) << "message of " << message.size() << " bytes";
  }
}

// The kernels with many lanes.
using Md5ManyLanesTest = Md5LanesTest;

// Lanes that are idle, or wait for input, must come out of other lanes' runs
// as they were: here lane 1 waits with a partial block while the others
// digest many messages, some lanes never used at all.
TEST_P(Md5ManyLanesTest, KeepsWaitingAndIdleLanesWhileOthersRun) {
  Md5Lanes engine(GetParam());
  ASSERT_GE(engine.Lanes(), 5u);
  std::mt19937 random(7);
  const std::string waiting = RandomBytes(random, 300);
  engine.Start(1);
  engine.Supply(1, waiting.data(), 100, false);
  engine.Run();
  ASSERT_EQ(engine.State(1), LaneState::kNeedsMore);

  std::vector<std::string> messages;
  for (int i = 0; i < 60; ++i)
    messages.push_back(RandomBytes(random, random() % 3000));
  std::vector<std::size_t> others = {0, 2};  // the busy lanes around the waiting one
  for (std::size_t lane = 4; lane < engine.Lanes() - 1; ++lane)
    others.push_back(lane);
  Feeder feeder(engine, others, random);
  ExpectOpenSslDigests(messages, feeder.DigestAll(messages));

  EXPECT_EQ(engine.State(1), LaneState::kNeedsMore);
  EXPECT_EQ(engine.State(3), LaneState::kIdle);
  engine.Supply(1, waiting.data() + 100, 200, true);
  engine.Run();
  EXPECT_EQ(engine.Take(1), OpenSslMd5(waiting));
}

// Run hands control back as soon as one lane has used up its input, so that
// it can be refilled; the other lane keeps the rest of its input.
TEST_P(Md5ManyLanesTest, RunReturnsWhenTheFirstLaneRunsOut) {
  Md5Lanes engine(GetParam());
  ASSERT_GE(engine.Lanes(), 2u);
  const std::string data(64 * 100, 'x');
  EXPECT_FALSE(engine.Run());
  engine.Start(0);
  engine.Start(1);
  engine.Supply(0, data.data(), data.size(), false);
  engine.Supply(1, data.data(), 64, false);
  EXPECT_TRUE(engine.Run());
  EXPECT_EQ(engine.State(0), LaneState::kHasInput);
  EXPECT_EQ(engine.State(1), LaneState::kNeedsMore);
  EXPECT_TRUE(engine.Run());
  EXPECT_EQ(engine.State(0), LaneState::kNeedsMore);
  EXPECT_FALSE(engine.Run());
}

INSTANTIATE_TEST_SUITE_P(Kernels, Md5LanesTest,
                         testing::Values(Md5Kernel::kScalar, Md5Kernel::kAvx2, Md5Kernel::kAvx512),
                         [](const auto& info) { return std::string(KernelName(info.param)); });
INSTANTIATE_TEST_SUITE_P(Kernels, Md5ManyLanesTest,
                         testing::Values(Md5Kernel::kAvx2, Md5Kernel::kAvx512),
                         [](const auto& info) { return std::string(KernelName(info.param)); });

// A message dropped half-way leaves nothing behind for the lane's next one:
// neither its partial bytes nor its length.
TEST(Md5Lanes, CancelForgetsTheMessage) {
  Md5Lanes engine;
  const std::string dropped(100, 'd'), message = "abc";
  engine.Start(0);
  engine.Supply(0, dropped.data(), dropped.size(), false);
  engine.Run();
  engine.Cancel(0);
  EXPECT_EQ(engine.State(0), LaneState::kIdle);
  engine.Start(0);
  engine.Supply(0, message.data(), message.size(), true);
  engine.Run();
  EXPECT_EQ(DigestToText(engine.Take(0)), "900150983CD24FB0D6963F7D28E17F72");
}

// Past 2^32 bits (512 MiB) the length in the padding needs its high word.
TEST(Md5Lanes, CountsMoreThanFourGigabitsOfInput) {
  std::mt19937 random(2);
  const std::string piece = RandomBytes(random, (1 << 20) + 3);
  Md5Lanes engine;
  EVP_MD_CTX* oracle = EVP_MD_CTX_new();
  ASSERT_EQ(EVP_DigestInit_ex(oracle, EVP_md5(), nullptr), 1);
  engine.Start(0);
  for (int i = 0; i < 520; ++i) {
    engine.Supply(0, piece.data(), piece.size(), i == 519);
    while (engine.State(0) == LaneState::kHasInput)
      engine.Run();
    EVP_DigestUpdate(oracle, piece.data(), piece.size());
  }
  Digest expected;
  EVP_DigestFinal_ex(oracle, expected.data(), nullptr);
  EVP_MD_CTX_free(oracle);
  EXPECT_EQ(engine.Take(0), expected);
}

TEST(Md5Lanes, RefusesCallsOutOfTurn) {
  Md5Lanes engine(Md5Kernel::kScalar);
  const auto message = [](const std::function<void()>& call) -> std::string {
    try {
      call();
    } catch (const std::logic_error& error) {
      return error.what();
    }
    return "no error";
  };
  EXPECT_EQ(message([&] { engine.Supply(0, "a", 1, true); }),
            "Md5Lanes::Supply: lane 0 is idle, not waiting for input");
  EXPECT_EQ(message([&] { engine.Start(1); }), "Md5Lanes::Start: lane 1 of 1");
  engine.Start(0);
  EXPECT_EQ(message([&] { engine.Take(0); }),
            "Md5Lanes::Take: lane 0 is waiting for input, not done");
  engine.Supply(0, "a", 1, true);
  EXPECT_EQ(message([&] { engine.Start(0); }),
            "Md5Lanes::Start: lane 0 is holding input, not idle");
}

TEST(Md5Lanes, TakesItsKernelFromTheEnvironment) {
  const auto with = [](const char* value) -> std::string {
    if (value == nullptr) {
      unsetenv("DUPFIND_MD5_KERNEL");
    } else {
      setenv("DUPFIND_MD5_KERNEL", value, 1);
    }
    std::string name;
    const std::string error = ErrorText([&] { name = KernelName(Md5Lanes().Kernel()); });
    unsetenv("DUPFIND_MD5_KERNEL");
    return name.empty() ? error : name;
  };
  const Md5Kernel best = CanRun(Md5Kernel::kAvx512) ? Md5Kernel::kAvx512
                         : CanRun(Md5Kernel::kAvx2) ? Md5Kernel::kAvx2
                                                    : Md5Kernel::kScalar;
  EXPECT_EQ(with(nullptr), KernelName(best));
  EXPECT_EQ(with(""), KernelName(best));
  EXPECT_EQ(with("scalar"), "scalar");
  EXPECT_EQ(with("AVX2"), "DUPFIND_MD5_KERNEL is \"AVX2\"; it may be scalar, avx2 or avx512");
  if (!CanRun(Md5Kernel::kAvx512)) {
    EXPECT_EQ(with("avx512"), "DUPFIND_MD5_KERNEL is \"avx512\", which this processor cannot run");
  }
}

}  // namespace
}  // namespace dupfind::test
