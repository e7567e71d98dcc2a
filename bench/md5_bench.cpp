// MD5 throughput beside OpenSSL's MD5, on the same bytes in the same run, on
// one core. Compare the bytes_per_second of:
// - MD5Update and MD5_Update over one long stream (no padding);
// - whole messages of 64 B to 1 MiB, padding included: one at a time with
//   MD5Init..MD5Final and OpenSSL's MD5_Init..MD5_Final, and all the lanes of
//   Md5Lanes kept full with each kernel (DUPFIND_MD5_KERNEL's choices: the
//   second argument is 0), or only the first few with the kernel
//   KernelFromEnvironment picks;
// - each lane kernel alone, every lane transforming 1 MiB of whole blocks.
// Kernels this processor cannot run are left out.

#define OPENSSL_SUPPRESS_DEPRECATED  // MD5_Update is the like-for-like call
#include <openssl/md5.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "digest/md5_lane_kernels.h"
#include "digest/md5_lanes.h"

namespace {

constexpr std::size_t kMiB = 1 << 20;
constexpr std::int64_t kMessageSizes[] = {64, 1024, 4096, kMiB};

// 2 MiB of noise: messages and lanes start at different places in it, and it
// stays in the cache as a file just read would.
const std::vector<std::uint8_t>& Noise() {
  static const std::vector<std::uint8_t> data = [] {
    std::vector<std::uint8_t> bytes(2 * kMiB);
    std::uint32_t x = 2463534242u;
    for (auto& byte : bytes) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      byte = static_cast<std::uint8_t>(x);
    }
    return bytes;
  }();
  return data;
}

// Where message (or lane) n starts in the noise, with room for `size` bytes.
const std::uint8_t* Start(std::size_t n, std::size_t size) {
  static const std::vector<std::uint8_t>& noise = Noise();
  return noise.data() + (n * 4160) % (noise.size() - size + 1);
}

// About 4 MiB of messages per iteration, so that every benchmark iterates alike.
std::size_t MessagesPerIteration(std::size_t size) {
  return std::max<std::size_t>(1, 4 * kMiB / size);
}

void BM_MD5Update(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  dupfind::MD5Context context;
  dupfind::MD5Init(context);
  for (auto _ : state) {
    dupfind::MD5Update(context, Start(0, size), size);
    benchmark::DoNotOptimize(context.state);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSSL_MD5_Update(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  MD5_CTX context;
  MD5_Init(&context);
  for (auto _ : state) {
    MD5_Update(&context, Start(0, size), size);
    benchmark::DoNotOptimize(context.A);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_MD5Messages(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::size_t messages = MessagesPerIteration(size);
  for (auto _ : state) {
    for (std::size_t m = 0; m < messages; ++m) {
      dupfind::MD5Context context;
      dupfind::MD5Init(context);
      dupfind::MD5Update(context, Start(m, size), size);
      dupfind::Digest digest;
      dupfind::MD5Final(digest, context);
      benchmark::DoNotOptimize(digest);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * messages * size));
}

void BM_OpenSSL_MD5Messages(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::size_t messages = MessagesPerIteration(size);
  for (auto _ : state) {
    for (std::size_t m = 0; m < messages; ++m) {
      MD5_CTX context;
      MD5_Init(&context);
      MD5_Update(&context, Start(m, size), size);
      unsigned char digest[MD5_DIGEST_LENGTH];
      MD5_Final(digest, &context);
      benchmark::DoNotOptimize(digest);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * messages * size));
}

// Every lane refilled with the next whole message as soon as it is done, as
// a reader of many files would keep them; or only the first range(1) lanes,
// as when few files are left.
void BM_Md5LanesMessages(benchmark::State& state, dupfind::Md5Kernel kernel) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  dupfind::Md5Lanes engine(kernel);
  const std::size_t lanes =
      state.range(1) == 0 ? engine.Lanes() : static_cast<std::size_t>(state.range(1));
  const std::size_t messages = std::max(MessagesPerIteration(size), lanes);
  for (auto _ : state) {
    std::size_t started = 0, done = 0;
    while (done < messages) {
      for (std::size_t lane = 0; lane < lanes; ++lane) {
        if (engine.State(lane) == dupfind::LaneState::kDone) {
          benchmark::DoNotOptimize(engine.Take(lane));
          ++done;
        }
        if (engine.State(lane) == dupfind::LaneState::kIdle && started < messages) {
          engine.Start(lane);
          engine.Supply(lane, Start(started++, size), size, true);
        }
      }
      engine.Run();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * messages * size));
  state.SetLabel(std::to_string(lanes) + " lanes");
}

// The kernel alone: every lane transforms 1 MiB of whole blocks per call.
void BM_LaneKernel(benchmark::State& state, const dupfind::lanes::LaneKernel& kernel) {
  constexpr std::size_t kBlocks = kMiB / 64;
  std::vector<std::uint32_t> words(4 * dupfind::lanes::kStride);
  std::vector<const std::uint8_t*> blocks(kernel.lanes);
  for (std::size_t lane = 0; lane < kernel.lanes; ++lane)
    blocks[lane] = Start(lane, kMiB);
  for (auto _ : state) {
    kernel.transform(words.data(), blocks.data(), kBlocks);
    benchmark::DoNotOptimize(words.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kernel.lanes * kMiB));
  state.SetLabel(std::to_string(kernel.lanes) + " lanes");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("BM_MD5Update", BM_MD5Update)->Arg(4096)->Arg(kMiB);
  benchmark::RegisterBenchmark("BM_OpenSSL_MD5_Update", BM_OpenSSL_MD5_Update)
      ->Arg(4096)
      ->Arg(kMiB);
  for (const std::int64_t size : kMessageSizes) {
    benchmark::RegisterBenchmark("BM_MD5Messages", BM_MD5Messages)->Arg(size);
    benchmark::RegisterBenchmark("BM_OpenSSL_MD5Messages", BM_OpenSSL_MD5Messages)->Arg(size);
    for (const auto kernel :
         {dupfind::Md5Kernel::kScalar, dupfind::Md5Kernel::kAvx2, dupfind::Md5Kernel::kAvx512}) {
      if (!dupfind::CanRun(kernel)) continue;
      const std::string name = std::string("BM_Md5LanesMessages/") + dupfind::KernelName(kernel);
      benchmark::RegisterBenchmark(name.c_str(), BM_Md5LanesMessages, kernel)->Args({size, 0});
    }
  }
  const dupfind::Md5Kernel best = dupfind::KernelFromEnvironment();
  for (const std::int64_t busy : {1, 2, 8, 12, 16, 24}) {
    if (static_cast<std::size_t>(busy) >= dupfind::Md5Lanes(best).Lanes()) break;
    const std::string name = std::string("BM_Md5LanesMessages/") + dupfind::KernelName(best);
    benchmark::RegisterBenchmark(name.c_str(), BM_Md5LanesMessages, best)->Args({kMiB, busy});
  }
  for (const dupfind::lanes::LaneKernel& kernel : dupfind::lanes::LaneKernels()) {
    if (!dupfind::CanRun(kernel.set)) continue;
    const std::string name = std::string("BM_LaneKernel/") + kernel.name;
    benchmark::RegisterBenchmark(name.c_str(), BM_LaneKernel, kernel);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
