#include "digest/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "tests/support/openssl_md5.h"
#include "tests/support/temp_dir.h"

namespace dupfind::test {
namespace {

Digest Md5InOneCall(const std::string& data) {
  MD5Context context;
  MD5Init(context);
  MD5Update(context, data.data(), data.size());
  Digest digest;
  MD5Final(digest, context);
  return digest;
}

std::string RandomBytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes)
    byte = static_cast<char>(random() & 0xFF);
  return bytes;
}

TEST(DigestOfFile, GivesTheRfc1321SuiteDigestsInUppercase) {
  const struct {
    const char* message;
    const char* text;
  } kSuite[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  TempDir folder;
  for (const auto& [message, text] : kSuite) {
    const std::string file = folder.File("message", message);
    EXPECT_EQ(DigestToText(DigestOfFile(file)), text) << '"' << message << '"';
  }
  std::mt19937 random(3);  // and a file of several 4096-byte pieces
  const std::string content = RandomBytes(random, 3 * 4096 + 5);
  EXPECT_EQ(DigestOfFile(folder.File("pieces", content)), OpenSslMd5(content));
}

// Sizes around the 56-byte padding limit and the 64-byte block, and large ones.
TEST(MD5Update, PiecesOfAnySizeGiveTheOneCallDigest) {
  std::mt19937 random(1321);
  for (const std::size_t size :
       {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 192, 4096, 4097, (1 << 20) + 13}) {
    const std::string data = RandomBytes(random, size);
    const Digest expected = OpenSslMd5(data);
    EXPECT_EQ(Md5InOneCall(data), expected) << size << " bytes in one call";
    // Pieces up to `largest` bytes, zero-length ones included.
    for (const std::size_t largest : {1, 7, 63, 64, 65, 200, 4097, 1 << 20}) {
      std::uniform_int_distribution<std::size_t> piece_size(0, largest);
      MD5Context context;
      MD5Init(context);
      MD5Update(context, nullptr, 0);
      for (std::size_t done = 0; done < size;) {
        const std::size_t piece = std::min(piece_size(random), size - done);
        MD5Update(context, data.data() + done, piece);
        done += piece;
      }
      Digest digest;
      MD5Final(digest, context);
      EXPECT_EQ(digest, expected) << size << " bytes in pieces of up to " << largest;
    }
  }
}

// Past 2^32 bits (512 MiB) the high word of the bit count comes into play.
TEST(MD5Update, CountsMoreThanFourGigabitsOfInput) {
  std::mt19937 random(2);
  const std::string piece = RandomBytes(random, (1 << 20) + 3);
  MD5Context context;
  MD5Init(context);
  EVP_MD_CTX* oracle = EVP_MD_CTX_new();
  ASSERT_EQ(EVP_DigestInit_ex(oracle, EVP_md5(), nullptr), 1);
  for (int i = 0; i < 520; ++i) {
    MD5Update(context, piece.data(), piece.size());
    EVP_DigestUpdate(oracle, piece.data(), piece.size());
  }
  EXPECT_NE(context.count[1], 0u);
  Digest digest, expected;
  MD5Final(digest, context);
  EVP_DigestFinal_ex(oracle, expected.data(), nullptr);
  EVP_MD_CTX_free(oracle);
  EXPECT_EQ(digest, expected);
}

TEST(MD5Final, LeavesTheContextAllZero) {
  MD5Context context;
  MD5Init(context);
  MD5Update(context, std::string(100, 'x').data(), 100);  // leaves a partial block behind
  Digest digest;
  MD5Final(digest, context);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&context);
  EXPECT_TRUE(std::all_of(bytes, bytes + sizeof context, [](unsigned char b) { return b == 0; }));
}

// An in-memory stream that counts its reads. It can claim a size other than
// what it holds, deliver short pieces, and throw on a chosen read.
struct FakeStream : Stream {
  explicit FakeStream(std::string bytes) : data(std::move(bytes)), size(data.size()) {}

  std::uint64_t Size() override { return size; }
  std::uint64_t Position() override { return position; }
  void Seek(std::uint64_t to) override { position = to; }
  std::size_t Read(void* buffer, std::size_t wanted) override {
    if (++reads == throw_on_read) throw Error("read failed");
    if (position >= data.size()) return 0;
    const std::size_t delivered = std::min({wanted, piece, data.size() - position});
    std::memcpy(buffer, data.data() + position, delivered);
    position += delivered;
    return delivered;
  }

  std::string data;
  std::uint64_t size;
  std::uint64_t position = 0;
  std::size_t piece = SIZE_MAX;  // the most one read delivers
  int throw_on_read = 0;
  int reads = 0;
};

// Whole pieces end the loop at the size; short pieces are not the end.
TEST(DigestOfStream, StopsAtTheSizeWithoutAFinalEmptyRead) {
  std::mt19937 random(4096);
  const struct {
    std::size_t size, piece;
    int reads;
  } kCases[] = {{0, 4096, 1},    {4096, 4096, 1},  {4097, 4096, 2},
                {8192, 4096, 2}, {10000, 4096, 3}, {5000, 1000, 5}};
  for (const auto& [size, piece, reads] : kCases) {
    FakeStream stream(RandomBytes(random, size));
    stream.piece = piece;
    EXPECT_EQ(DigestOfStream(stream), OpenSslMd5(stream.data)) << size << " bytes";
    EXPECT_EQ(stream.reads, reads) << size << " bytes in pieces of " << piece;
  }
}

// A 32-bit size would keep only the low word (4096) and stop after one read.
TEST(DigestOfStream, DigestsEveryByteOfAStreamLargerThanFourGiB) {
  std::mt19937 random(32);
  FakeStream stream(RandomBytes(random, 8192));
  stream.size = (std::uint64_t{1} << 32) + 4096;
  EXPECT_EQ(DigestOfStream(stream), OpenSslMd5(stream.data));
  EXPECT_EQ(stream.reads, 3);
}

TEST(DigestOfStream, StartsAtTheBeginningAndPutsThePositionBackEvenOnError) {
  std::mt19937 random(123);
  FakeStream stream(RandomBytes(random, 10000));
  stream.position = 123;
  EXPECT_EQ(DigestOfStream(stream), OpenSslMd5(stream.data));
  EXPECT_EQ(stream.position, 123u);

  stream.position = 77;
  stream.reads = 0;
  stream.throw_on_read = 2;  // after the first piece has moved the position
  EXPECT_EQ(ErrorText([&] { DigestOfStream(stream); }), "read failed");
  EXPECT_EQ(stream.position, 77u);
}

}  // namespace
}  // namespace dupfind::test
