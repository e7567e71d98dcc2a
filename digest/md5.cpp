#include "digest/md5.h"

#include <bit>
#include <cstring>

#include "digest/md5_blocks.h"

namespace dupfind {
namespace {

constexpr std::uint8_t kPadding[64] = {0x80};

// Keeps a wipe of memory that is never read again from being optimised away.
void Wipe(void* data, std::size_t size) {
  std::memset(data, 0, size);
  asm volatile("" : : "r"(data) : "memory");
}

// The auxiliary functions, in forms that need fewer dependent operations than
// their textbook definitions; G's two terms have no bit in common, so they may
// be added to the accumulator one after the other.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x ^ y ^ z;
}
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return y ^ (x | ~z);
}

#define MD5_STEP_F(a, b, c, d, x, s, t) \
  a += F(b, c, d) + (x) + (t);          \
  a = std::rotl(a, s) + (b);
#define MD5_STEP_G(a, b, c, d, x, s, t) \
  a += (~(d) & (c)) + (x) + (t);        \
  a += (d) & (b);                       \
  a = std::rotl(a, s) + (b);
#define MD5_STEP_H(a, b, c, d, x, s, t) \
  a += H(b, c, d) + (x) + (t);          \
  a = std::rotl(a, s) + (b);
#define MD5_STEP_I(a, b, c, d, x, s, t) \
  a += I(b, c, d) + (x) + (t);          \
  a = std::rotl(a, s) + (b);

}  // namespace

void MD5TransformBlocks(std::uint32_t state[4], const std::uint8_t* data, std::size_t blocks) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t x[16];
  for (; blocks != 0; --blocks, data += 64) {
    Decode(x, data, 64);
    const std::uint32_t aa = a, bb = b, cc = c, dd = d;

    MD5_STEP_F(a, b, c, d, x[0], 7, 0xd76aa478)
    MD5_STEP_F(d, a, b, c, x[1], 12, 0xe8c7b756)
    MD5_STEP_F(c, d, a, b, x[2], 17, 0x242070db)
    MD5_STEP_F(b, c, d, a, x[3], 22, 0xc1bdceee)
    MD5_STEP_F(a, b, c, d, x[4], 7, 0xf57c0faf)
    MD5_STEP_F(d, a, b, c, x[5], 12, 0x4787c62a)
    MD5_STEP_F(c, d, a, b, x[6], 17, 0xa8304613)
    MD5_STEP_F(b, c, d, a, x[7], 22, 0xfd469501)
    MD5_STEP_F(a, b, c, d, x[8], 7, 0x698098d8)
    MD5_STEP_F(d, a, b, c, x[9], 12, 0x8b44f7af)
    MD5_STEP_F(c, d, a, b, x[10], 17, 0xffff5bb1)
    MD5_STEP_F(b, c, d, a, x[11], 22, 0x895cd7be)
    MD5_STEP_F(a, b, c, d, x[12], 7, 0x6b901122)
    MD5_STEP_F(d, a, b, c, x[13], 12, 0xfd987193)
    MD5_STEP_F(c, d, a, b, x[14], 17, 0xa679438e)
    MD5_STEP_F(b, c, d, a, x[15], 22, 0x49b40821)

    MD5_STEP_G(a, b, c, d, x[1], 5, 0xf61e2562)
    MD5_STEP_G(d, a, b, c, x[6], 9, 0xc040b340)
    MD5_STEP_G(c, d, a, b, x[11], 14, 0x265e5a51)
    MD5_STEP_G(b, c, d, a, x[0], 20, 0xe9b6c7aa)
    MD5_STEP_G(a, b, c, d, x[5], 5, 0xd62f105d)
    MD5_STEP_G(d, a, b, c, x[10], 9, 0x02441453)
    MD5_STEP_G(c, d, a, b, x[15], 14, 0xd8a1e681)
    MD5_STEP_G(b, c, d, a, x[4], 20, 0xe7d3fbc8)
    MD5_STEP_G(a, b, c, d, x[9], 5, 0x21e1cde6)
    MD5_STEP_G(d, a, b, c, x[14], 9, 0xc33707d6)
    MD5_STEP_G(c, d, a, b, x[3], 14, 0xf4d50d87)
    MD5_STEP_G(b, c, d, a, x[8], 20, 0x455a14ed)
    MD5_STEP_G(a, b, c, d, x[13], 5, 0xa9e3e905)
    MD5_STEP_G(d, a, b, c, x[2], 9, 0xfcefa3f8)
    MD5_STEP_G(c, d, a, b, x[7], 14, 0x676f02d9)
    MD5_STEP_G(b, c, d, a, x[12], 20, 0x8d2a4c8a)

    MD5_STEP_H(a, b, c, d, x[5], 4, 0xfffa3942)
    MD5_STEP_H(d, a, b, c, x[8], 11, 0x8771f681)
    MD5_STEP_H(c, d, a, b, x[11], 16, 0x6d9d6122)
    MD5_STEP_H(b, c, d, a, x[14], 23, 0xfde5380c)
    MD5_STEP_H(a, b, c, d, x[1], 4, 0xa4beea44)
    MD5_STEP_H(d, a, b, c, x[4], 11, 0x4bdecfa9)
    MD5_STEP_H(c, d, a, b, x[7], 16, 0xf6bb4b60)
    MD5_STEP_H(b, c, d, a, x[10], 23, 0xbebfbc70)
    MD5_STEP_H(a, b, c, d, x[13], 4, 0x289b7ec6)
    MD5_STEP_H(d, a, b, c, x[0], 11, 0xeaa127fa)
    MD5_STEP_H(c, d, a, b, x[3], 16, 0xd4ef3085)
    MD5_STEP_H(b, c, d, a, x[6], 23, 0x04881d05)
    MD5_STEP_H(a, b, c, d, x[9], 4, 0xd9d4d039)
    MD5_STEP_H(d, a, b, c, x[12], 11, 0xe6db99e5)
    MD5_STEP_H(c, d, a, b, x[15], 16, 0x1fa27cf8)
    MD5_STEP_H(b, c, d, a, x[2], 23, 0xc4ac5665)

    MD5_STEP_I(a, b, c, d, x[0], 6, 0xf4292244)
    MD5_STEP_I(d, a, b, c, x[7], 10, 0x432aff97)
    MD5_STEP_I(c, d, a, b, x[14], 15, 0xab9423a7)
    MD5_STEP_I(b, c, d, a, x[5], 21, 0xfc93a039)
    MD5_STEP_I(a, b, c, d, x[12], 6, 0x655b59c3)
    MD5_STEP_I(d, a, b, c, x[3], 10, 0x8f0ccc92)
    MD5_STEP_I(c, d, a, b, x[10], 15, 0xffeff47d)
    MD5_STEP_I(b, c, d, a, x[1], 21, 0x85845dd1)
    MD5_STEP_I(a, b, c, d, x[8], 6, 0x6fa87e4f)
    MD5_STEP_I(d, a, b, c, x[15], 10, 0xfe2ce6e0)
    MD5_STEP_I(c, d, a, b, x[6], 15, 0xa3014314)
    MD5_STEP_I(b, c, d, a, x[13], 21, 0x4e0811a1)
    MD5_STEP_I(a, b, c, d, x[4], 6, 0xf7537e82)
    MD5_STEP_I(d, a, b, c, x[11], 10, 0xbd3af235)
    MD5_STEP_I(c, d, a, b, x[2], 15, 0x2ad7d2bb)
    MD5_STEP_I(b, c, d, a, x[9], 21, 0xeb86d391)

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  Wipe(x, sizeof x);  // the decoded words may be secret
}

#undef MD5_STEP_F
#undef MD5_STEP_G
#undef MD5_STEP_H
#undef MD5_STEP_I

void MD5Init(MD5Context& context) {
  std::memset(&context, 0, sizeof context);
  context.state[0] = 0x67452301;
  context.state[1] = 0xefcdab89;
  context.state[2] = 0x98badcfe;
  context.state[3] = 0x10325476;
}

void MD5Update(MD5Context& context, const void* input, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(input);
  std::size_t index = (context.count[0] >> 3) & 0x3F;

  const std::uint64_t bits =
      ((std::uint64_t{context.count[1]} << 32) | context.count[0]) + (std::uint64_t{length} << 3);
  context.count[0] = static_cast<std::uint32_t>(bits);
  context.count[1] = static_cast<std::uint32_t>(bits >> 32);

  const std::size_t part_length = 64 - index;
  std::size_t i = 0;
  if (length >= part_length) {
    std::memcpy(&context.buffer[index], bytes, part_length);
    MD5TransformBlocks(context.state, context.buffer, 1);
    // Whole blocks are transformed where they lie, without a copy.
    const std::size_t blocks = (length - part_length) / 64;
    MD5TransformBlocks(context.state, bytes + part_length, blocks);
    i = part_length + blocks * 64;
    index = 0;
  }
  if (length > i) std::memcpy(&context.buffer[index], bytes + i, length - i);
}

void MD5Final(Digest& digest, MD5Context& context) {
  std::uint8_t bits[8];
  Encode(bits, context.count, 8);

  const std::size_t index = (context.count[0] >> 3) & 0x3F;
  const std::size_t pad_length = index < 56 ? 56 - index : 120 - index;
  MD5Update(context, kPadding, pad_length);
  MD5Update(context, bits, 8);

  Encode(digest.data(), context.state, 16);
  Wipe(&context, sizeof context);
}

void MD5Transform(std::uint32_t state[4], const std::uint8_t block[64]) {
  MD5TransformBlocks(state, block, 1);
}

void Encode(std::uint8_t* output, const std::uint32_t* input, std::size_t length) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(output, input, length);
  } else {
    for (std::size_t i = 0, j = 0; j < length; ++i, j += 4) {
      output[j] = static_cast<std::uint8_t>(input[i]);
      output[j + 1] = static_cast<std::uint8_t>(input[i] >> 8);
      output[j + 2] = static_cast<std::uint8_t>(input[i] >> 16);
      output[j + 3] = static_cast<std::uint8_t>(input[i] >> 24);
    }
  }
}

void Decode(std::uint32_t* output, const std::uint8_t* input, std::size_t length) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(output, input, length);
  } else {
    for (std::size_t i = 0, j = 0; j < length; ++i, j += 4) {
      output[i] = std::uint32_t{input[j]} | (std::uint32_t{input[j + 1]} << 8) |
                  (std::uint32_t{input[j + 2]} << 16) | (std::uint32_t{input[j + 3]} << 24);
    }
  }
}

std::string DigestToText(const Digest& digest) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(32);
  for (const std::uint8_t byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

}  // namespace dupfind
