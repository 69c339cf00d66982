#include "net/md5_digest.h"

namespace net {

std::string HexDigits(const uint8_t* bytes, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kHex[bytes[i] >> 4];
    hex += kHex[bytes[i] & 15];
  }
  return hex;
}

std::string Md5Digest::HexOf(const uint8_t* data, size_t size) {
  Md5Digest digest;
  digest.Add(data, size);
  return digest.Hex();
}

}  // namespace net
