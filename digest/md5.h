#pragma once

// MD5 message digests (RFC 1321) of buffers, streams and files, and their
// 32-character text form.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dupfind {

// Running state of one digest. A plain value: the caller owns it.
struct MD5Context {
  std::uint32_t state[4];   // chaining values A, B, C, D
  std::uint32_t count[2];   // number of bits absorbed, low word first
  std::uint8_t buffer[64];  // a partial block not yet transformed
};

using Digest = std::array<std::uint8_t, 16>;

void MD5Init(MD5Context& context);
// Absorbs `length` bytes; any length, in any number of calls.
void MD5Update(MD5Context& context, const void* input, std::size_t length);
// Writes the digest and wipes the context, which must be initialised again before reuse.
void MD5Final(Digest& digest, MD5Context& context);

// Block transform and little-endian word conversion; exposed for the tests.
void MD5Transform(std::uint32_t state[4], const std::uint8_t block[64]);
void Encode(std::uint8_t* output, const std::uint32_t* input, std::size_t length);
void Decode(std::uint32_t* output, const std::uint8_t* input, std::size_t length);

// What DigestOfStream reads from. Read delivers up to `size` bytes and returns
// how many; 0 means the end of the data. A failing read throws.
class Stream {
 public:
  virtual ~Stream() = default;
  virtual std::uint64_t Size() = 0;
  virtual std::uint64_t Position() = 0;
  virtual void Seek(std::uint64_t position) = 0;
  virtual std::size_t Read(void* buffer, std::size_t size) = 0;
};

// Digest of the stream's whole content from its beginning; the position is put
// back afterwards, also when an error passes.
Digest DigestOfStream(Stream& stream);

// Digest of the regular file at `path`, opened read-only and locked against
// other programs while it is read. Throws "Cannot open file ..." or
// "Cannot read file ..." (see FileError).
Digest DigestOfFile(const std::string& path);

// 32 uppercase hexadecimal digits, byte 0 first.
std::string DigestToText(const Digest& digest);

}  // namespace dupfind
