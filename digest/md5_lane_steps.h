#pragma once

// The MD5 block transform over vectors of lanes, written once for every SIMD
// kernel. Include it only from a kernel's own file, compiled for its
// instruction set; `Ops` (defined there) supplies the vector type, the loads
// and the step of each round.
//
// `Sets` independent sets of lanes go through each step one after the other:
// one step's result feeds the next, so a single set leaves the vector units
// waiting on that chain, and a second set fills the gaps.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "digest/md5_lane_kernels.h"

namespace dupfind::lanes {

// The 64 steps of RFC 1321: rotation, message word and additive constant.
inline constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,  //
                                   5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,  //
                                   4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,  //
                                   6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::size_t Word(std::size_t step) {
  switch (step / 16) {
    case 0:
      return step;
    case 1:
      return (1 + 5 * step) % 16;
    case 2:
      return (5 + 3 * step) % 16;
    default:
      return 7 * step % 16;
  }
}

inline constexpr std::uint32_t kConstant[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// One step in every set. The four chaining values trade places each step:
// step i updates v[(4 - i % 4) % 4], with the next three in turn as b, c, d.
template <class Ops, std::size_t Sets, std::size_t Step>
[[gnu::always_inline]] inline void DoStep(typename Ops::V (&v)[4][Sets],
                                          const typename Ops::V (&x)[Sets][16]) {
  constexpr std::size_t a = (4 - Step % 4) % 4;
#pragma GCC unroll 16
  for (std::size_t set = 0; set < Sets; ++set) {
    Ops::template Step<Step / 16, kShift[Step]>(v[a][set], v[(a + 1) % 4][set], v[(a + 2) % 4][set],
                                                v[(a + 3) % 4][set], x[set][Word(Step)],
                                                kConstant[Step]);
  }
}

template <class Ops, std::size_t Sets, std::size_t... Steps>
[[gnu::always_inline]] inline void DoSteps(typename Ops::V (&v)[4][Sets],
                                           const typename Ops::V (&x)[Sets][16],
                                           std::index_sequence<Steps...>) {
  (DoStep<Ops, Sets, Steps>(v, x), ...);
}

template <class Ops, std::size_t Sets>
[[gnu::always_inline]] inline void TransformLanes(std::uint32_t* state,
                                                  const std::uint8_t* const* blocks,
                                                  std::size_t count) {
  using V = typename Ops::V;
  constexpr std::size_t kWidth = Ops::kLanes;
  V v[4][Sets];
#pragma GCC unroll 16
  for (std::size_t j = 0; j < 4; ++j) {
#pragma GCC unroll 16
    for (std::size_t set = 0; set < Sets; ++set)
      v[j][set] = Ops::Load(state + j * kStride + set * kWidth);
  }
  for (std::size_t offset = 0; count != 0; --count, offset += 64) {
    V x[Sets][16];
#pragma GCC unroll 16
    for (std::size_t set = 0; set < Sets; ++set)
      Ops::LoadWords(x[set], blocks + set * kWidth, offset);
    V saved[4][Sets];
#pragma GCC unroll 16
    for (std::size_t j = 0; j < 4; ++j) {
#pragma GCC unroll 16
      for (std::size_t set = 0; set < Sets; ++set)
        saved[j][set] = v[j][set];
    }
    DoSteps<Ops, Sets>(v, x, std::make_index_sequence<64>());
#pragma GCC unroll 16
    for (std::size_t j = 0; j < 4; ++j) {
#pragma GCC unroll 16
      for (std::size_t set = 0; set < Sets; ++set)
        v[j][set] = Ops::Add(v[j][set], saved[j][set]);
    }
  }
#pragma GCC unroll 16
  for (std::size_t j = 0; j < 4; ++j) {
#pragma GCC unroll 16
    for (std::size_t set = 0; set < Sets; ++set)
      Ops::Store(state + j * kStride + set * kWidth, v[j][set]);
  }
}

}  // namespace dupfind::lanes
