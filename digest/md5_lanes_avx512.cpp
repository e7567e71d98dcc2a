// Sixteen lanes per set of 512-bit AVX-512 vectors: vpternlogd computes each
// round's function in one instruction and vprold rotates in one. This file
// alone is compiled with -mavx512f -mavx512bw -mavx512vl; it runs only where
// the processor has them.

// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector,
// which its own -Wmaybe-uninitialized then reports where they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include "digest/md5_lane_steps.h"

namespace dupfind::lanes {
namespace {

// The vpternlogd table of a function of three bits: bit (x << 2 | y << 1 | z).
template <class Function>
constexpr int TernaryTable(Function f) {
  int table = 0;
  for (int i = 0; i < 8; ++i) {
    if (f((i >> 2) & 1, (i >> 1) & 1, i & 1) & 1) table |= 1 << i;
  }
  return table;
}

constexpr int kF = TernaryTable([](int x, int y, int z) { return (x & y) | (~x & z); });
constexpr int kG = TernaryTable([](int x, int y, int z) { return (x & z) | (y & ~z); });
constexpr int kH = TernaryTable([](int x, int y, int z) { return x ^ y ^ z; });
constexpr int kI = TernaryTable([](int x, int y, int z) { return y ^ (x | ~z); });
static_assert(kF == 0xCA && kG == 0xE4 && kH == 0x96 && kI == 0x39);

struct Avx512 {
  using V = __m512i;
  static constexpr std::size_t kLanes = 16;

  [[gnu::always_inline]] static V Load(const std::uint32_t* words) {
    return _mm512_loadu_si512(words);
  }
  [[gnu::always_inline]] static void Store(std::uint32_t* words, V v) {
    _mm512_storeu_si512(words, v);
  }
  [[gnu::always_inline]] static V Add(V a, V b) { return _mm512_add_epi32(a, b); }

  // Word k of every lane's block at `offset` into x[k]: a 16 x 16 transpose.
  [[gnu::always_inline]] static void LoadWords(V x[16], const std::uint8_t* const* blocks,
                                               std::size_t offset) {
    V r[16];
#pragma GCC unroll 16
    for (std::size_t i = 0; i < 16; ++i)
      r[i] = _mm512_loadu_si512(blocks[i] + offset);
    V t[16];  // 32-bit pairs of two lanes
#pragma GCC unroll 16
    for (std::size_t i = 0; i < 16; i += 2) {
      t[i] = _mm512_unpacklo_epi32(r[i], r[i + 1]);
      t[i + 1] = _mm512_unpackhi_epi32(r[i], r[i + 1]);
    }
    // u[4g + k], 128-bit part p: word 4p + k of lanes 4g to 4g + 3.
    V u[16];
#pragma GCC unroll 16
    for (std::size_t i = 0; i < 16; i += 4) {
      u[i] = _mm512_unpacklo_epi64(t[i], t[i + 2]);
      u[i + 1] = _mm512_unpackhi_epi64(t[i], t[i + 2]);
      u[i + 2] = _mm512_unpacklo_epi64(t[i + 1], t[i + 3]);
      u[i + 3] = _mm512_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
// A 4 x 4 transpose of 128-bit parts for each k.
#pragma GCC unroll 16
    for (std::size_t k = 0; k < 4; ++k) {
      const V low01 = _mm512_shuffle_i32x4(u[k], u[k + 4], 0x44);       // parts 0, 1
      const V high01 = _mm512_shuffle_i32x4(u[k], u[k + 4], 0xEE);      // parts 2, 3
      const V low23 = _mm512_shuffle_i32x4(u[k + 8], u[k + 12], 0x44);  // of lanes 8-15
      const V high23 = _mm512_shuffle_i32x4(u[k + 8], u[k + 12], 0xEE);
      x[k] = _mm512_shuffle_i32x4(low01, low23, 0x88);
      x[k + 4] = _mm512_shuffle_i32x4(low01, low23, 0xDD);
      x[k + 8] = _mm512_shuffle_i32x4(high01, high23, 0x88);
      x[k + 12] = _mm512_shuffle_i32x4(high01, high23, 0xDD);
    }
  }

  // a = b + ((a + f(b, c, d) + x + t) <<< s). The terms that do not depend on
  // b, the previous step's result, are added first, keeping the chain from one
  // step to the next short.
  template <int kRound, int kShift>
  [[gnu::always_inline]] static void Step(V& a, V b, V c, V d, V x, std::uint32_t t) {
    constexpr int kTable = kRound == 0 ? kF : kRound == 1 ? kG : kRound == 2 ? kH : kI;
    a = Add(a, Add(x, _mm512_set1_epi32(static_cast<int>(t))));
    a = Add(a, _mm512_ternarylogic_epi32(b, c, d, kTable));
    a = Add(_mm512_rol_epi32(a, kShift), b);
  }
};

}  // namespace

void TransformAvx512x1(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count) {
  TransformLanes<Avx512, 1>(state, blocks, count);
}

void TransformAvx512x2(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count) {
  TransformLanes<Avx512, 2>(state, blocks, count);
}

}  // namespace dupfind::lanes
