#include <cstdint>
#include <exception>

#include "digest/file_stream.h"
#include "digest/md5.h"

namespace dupfind {

Digest DigestOfStream(Stream& stream) {
  MD5Context context;
  MD5Init(context);
  const std::uint64_t size = stream.Size();
  const std::uint64_t position = stream.Position();
  stream.Seek(0);
  try {
    std::uint8_t buffer[4096];
    std::uint64_t total = 0;
    for (;;) {
      const std::size_t delivered = stream.Read(buffer, sizeof buffer);
      total += delivered;
      MD5Update(context, buffer, delivered);
      if (delivered == 0 || total == size) break;
    }
  } catch (...) {
    try {
      stream.Seek(position);
    } catch (...) {
      // the first error is the one worth reporting
    }
    throw;
  }
  stream.Seek(position);
  Digest digest;
  MD5Final(digest, context);
  return digest;
}

Digest DigestOfFile(const std::string& path) {
  FileStream file(path);
  return DigestOfStream(file);
}

}  // namespace dupfind
