// Eight lanes per set of 256-bit AVX2 vectors. This file alone is compiled
// with -mavx2; it runs only where the processor has AVX2.

#include <immintrin.h>

#include "digest/md5_lane_steps.h"

namespace dupfind::lanes {
namespace {

struct Avx2 {
  using V = __m256i;
  static constexpr std::size_t kLanes = 8;

  [[gnu::always_inline]] static V Load(const std::uint32_t* words) {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(words));
  }
  [[gnu::always_inline]] static void Store(std::uint32_t* words, V v) {
    _mm256_storeu_si256(reinterpret_cast<V*>(words), v);
  }
  [[gnu::always_inline]] static V Add(V a, V b) { return _mm256_add_epi32(a, b); }

  // Word k of every lane's block at `offset` into x[k]: two 8 x 8 transposes.
  [[gnu::always_inline]] static void LoadWords(V x[16], const std::uint8_t* const* blocks,
                                               std::size_t offset) {
#pragma GCC unroll 16
    for (std::size_t half = 0; half < 2; ++half) {
      V r[8];
#pragma GCC unroll 16
      for (std::size_t i = 0; i < 8; ++i)
        r[i] = _mm256_loadu_si256(reinterpret_cast<const V*>(blocks[i] + offset + 32 * half));
      V t[8];  // 32-bit pairs of two lanes
#pragma GCC unroll 16
      for (std::size_t i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
      }
      V u[8];  // one word of four lanes in each 128-bit half
#pragma GCC unroll 16
      for (std::size_t i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
      }
#pragma GCC unroll 16
      for (std::size_t k = 0; k < 4; ++k) {
        x[8 * half + k] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x20);
        x[8 * half + k + 4] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x31);
      }
    }
  }

  template <int kShift>
  [[gnu::always_inline]] static V Rotl(V v) {
    return _mm256_or_si256(_mm256_slli_epi32(v, kShift), _mm256_srli_epi32(v, 32 - kShift));
  }
  [[gnu::always_inline]] static V Set(std::uint32_t t) {
    return _mm256_set1_epi32(static_cast<int>(t));
  }

  // a = b + ((a + f(b, c, d) + x + t) <<< s). The terms that do not depend on
  // b, the previous step's result, are added first, keeping the chain from one
  // step to the next short.
  template <int kRound, int kShift>
  [[gnu::always_inline]] static void Step(V& a, V b, V c, V d, V x, std::uint32_t t) {
    if constexpr (kRound == 0) {  // F = d ^ (b & (c ^ d))
      a = Add(a, Add(x, Set(t)));
      a = Add(a, _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d))));
    } else if constexpr (kRound == 1) {  // G = (b & d) + (c & ~d): no bit in common
      a = Add(a, Add(x, Set(t)));
      a = Add(a, _mm256_andnot_si256(d, c));
      a = Add(a, _mm256_and_si256(b, d));
    } else if constexpr (kRound == 2) {  // H = b ^ c ^ d
      a = Add(a, Add(x, Set(t)));
      a = Add(a, _mm256_xor_si256(b, _mm256_xor_si256(c, d)));
    } else {  // I = c ^ (b | ~d) = ~(c ^ (~b & d)), and a + ~y = a - 1 - y
      a = Add(a, Add(x, Set(t - 1)));
      a = _mm256_sub_epi32(a, _mm256_xor_si256(c, _mm256_andnot_si256(b, d)));
    }
    a = Add(Rotl<kShift>(a), b);
  }
};

}  // namespace

void TransformAvx2x1(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count) {
  TransformLanes<Avx2, 1>(state, blocks, count);
}

void TransformAvx2x2(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count) {
  TransformLanes<Avx2, 2>(state, blocks, count);
}

}  // namespace dupfind::lanes
