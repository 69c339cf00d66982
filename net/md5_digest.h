#pragma once
// MD5 over pieces of data: libgcrypt on the host, CryptoAPI on Windows.
#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

class Md5Digest {
 public:
  Md5Digest();
  ~Md5Digest();
  Md5Digest(const Md5Digest&) = delete;
  Md5Digest& operator=(const Md5Digest&) = delete;

  void Add(const uint8_t* data, size_t size);
  // 32 lower-case hexadecimal digits of what was added; empty when the
  // library could not compute it. Ends the digest.
  std::string Hex();

  static std::string HexOf(const uint8_t* data, size_t size);

 private:
  uintptr_t m_handle = 0;  // gcry_md_hd_t or HCRYPTHASH
  bool m_failed = false;
};

std::string HexDigits(const uint8_t* bytes, size_t size);

}  // namespace net
