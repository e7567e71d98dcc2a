// libFuzzer target: Md5Lanes against OpenSSL's MD5. The input drives random
// messages, cut into pieces of random sizes, in random lanes of a random
// kernel, with runs, takes and cancels in between. Every piece lives in a
// buffer of exactly its size, overwritten and freed as soon as its lane no
// longer needs it, so that AddressSanitizer sees any read outside what the
// engine may read. A digest that differs aborts.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "digest/md5_lanes.h"
#include "tests/support/openssl_md5.h"

namespace {

using dupfind::LaneState;
using dupfind::Md5Kernel;

struct Job {
  std::string message;
  std::size_t sent = 0;
  std::unique_ptr<char[]> piece;
  std::size_t piece_size = 0;

  void Release() {
    if (piece) std::memset(piece.get(), 0x5A, piece_size);
    piece.reset();
  }
};

void Supply(dupfind::Md5Lanes& engine, std::size_t lane, Job& job, std::size_t size, bool last) {
  job.piece_size = size;
  job.piece = std::make_unique<char[]>(size);
  if (size != 0) std::memcpy(job.piece.get(), job.message.data() + job.sent, size);
  job.sent += size;
  engine.Supply(lane, job.piece.get(), size, last && job.sent == job.message.size());
}

void Check(dupfind::Md5Lanes& engine, std::size_t lane, Job& job) {
  if (engine.Take(lane) != dupfind::test::OpenSslMd5(job.message)) {
    std::fprintf(stderr, "%s, lane %zu: wrong digest of %zu bytes\n",
                 dupfind::KernelName(engine.Kernel()), lane, job.message.size());
    std::abort();
  }
  job = Job{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<Md5Kernel> kernels;
  for (const Md5Kernel kernel : {Md5Kernel::kScalar, Md5Kernel::kAvx2, Md5Kernel::kAvx512}) {
    if (dupfind::CanRun(kernel)) kernels.push_back(kernel);
  }
  dupfind::Md5Lanes engine(
      kernels[input.ConsumeIntegralInRange<std::size_t>(0, kernels.size() - 1)]);
  std::vector<Job> jobs(engine.Lanes());

  for (int operations = 0; input.remaining_bytes() != 0 && operations < 4000; ++operations) {
    const std::size_t lane = input.ConsumeIntegralInRange<std::size_t>(0, engine.Lanes() - 1);
    Job& job = jobs[lane];
    if (engine.State(lane) != LaneState::kHasInput) job.Release();
    if (input.ConsumeIntegral<std::uint8_t>() == 0) {  // now and then, drop the message
      engine.Cancel(lane);
      job = Job{};
      continue;
    }
    switch (engine.State(lane)) {
      case LaneState::kIdle: {
        engine.Start(lane);
        // Some bytes of the input, repeated to reach many blocks cheaply.
        const std::string unit = input.ConsumeRandomLengthString(200);
        const std::size_t repeat = input.ConsumeIntegralInRange<std::size_t>(1, 80);
        for (std::size_t i = 0; i < repeat; ++i)
          job.message += unit;
        break;
      }
      case LaneState::kNeedsMore: {
        const std::size_t left = job.message.size() - job.sent;
        const std::size_t piece = input.ConsumeBool()
                                      ? input.ConsumeIntegralInRange<std::size_t>(0, 130)
                                      : input.ConsumeIntegralInRange<std::size_t>(0, left);
        Supply(engine, lane, job, std::min(piece, left), input.ConsumeBool());
        break;
      }
      case LaneState::kHasInput:
        engine.Run();
        break;
      case LaneState::kDone:
        Check(engine, lane, job);
        break;
    }
  }

  // Finish every message still under way.
  for (;;) {
    bool busy = false;
    for (std::size_t lane = 0; lane < engine.Lanes(); ++lane) {
      Job& job = jobs[lane];
      if (engine.State(lane) != LaneState::kHasInput) job.Release();
      if (engine.State(lane) == LaneState::kNeedsMore)
        Supply(engine, lane, job, job.message.size() - job.sent, true);
      if (engine.State(lane) == LaneState::kDone) Check(engine, lane, job);
      busy = busy || engine.State(lane) != LaneState::kIdle;
    }
    if (!busy) break;
    engine.Run();
  }
  return 0;
}
