// MD5Update throughput beside OpenSSL's MD5_Update, on the same buffers in the
// same run. Compare the bytes_per_second of each pair.

#define OPENSSL_SUPPRESS_DEPRECATED  // MD5_Update is the like-for-like call
#include <openssl/md5.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "digest/md5.h"

namespace {

std::vector<std::uint8_t> Buffer(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t x = 2463534242u;
  for (auto& byte : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return data;
}

void BM_MD5Update(benchmark::State& state) {
  const auto data = Buffer(static_cast<std::size_t>(state.range(0)));
  dupfind::MD5Context context;
  dupfind::MD5Init(context);
  for (auto _ : state) {
    dupfind::MD5Update(context, data.data(), data.size());
    benchmark::DoNotOptimize(context.state);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSSL_MD5_Update(benchmark::State& state) {
  const auto data = Buffer(static_cast<std::size_t>(state.range(0)));
  MD5_CTX context;
  MD5_Init(&context);
  for (auto _ : state) {
    MD5_Update(&context, data.data(), data.size());
    benchmark::DoNotOptimize(context.A);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_MD5Update)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_OpenSSL_MD5_Update)->Arg(4096)->Arg(1 << 20);

BENCHMARK_MAIN();
