#pragma once

// OpenSSL's MD5, the independent oracle of the digest tests and the fuzz
// target; the program itself links no crypto library.

#include <openssl/evp.h>

#include <cstdlib>
#include <string_view>

#include "digest/md5.h"

namespace dupfind::test {

inline Digest OpenSslMd5(std::string_view data) {
  Digest digest{};
  if (EVP_Digest(data.data(), data.size(), digest.data(), nullptr, EVP_md5(), nullptr) != 1)
    std::abort();
  return digest;
}

}  // namespace dupfind::test
