#pragma once
// AES-256 in ECB mode, in place. libgcrypt on the host; on Windows the
// system's CryptoAPI, which keeps the setup program free of a crypto library.
#include <cstddef>
#include <cstdint>

namespace net {

class Aes256Ecb {
 public:
  Aes256Ecb() = default;
  ~Aes256Ecb();
  Aes256Ecb(const Aes256Ecb&) = delete;
  Aes256Ecb& operator=(const Aes256Ecb&) = delete;

  // Replaces the key; false (and no key) when the library refuses it.
  bool SetKey(const uint8_t key[32]);
  bool ok() const { return m_handle != 0; }
  // `size` a multiple of 16; false without a key.
  bool Encrypt(uint8_t* data, size_t size);
  bool Decrypt(uint8_t* data, size_t size);

 private:
  void Close();
  uintptr_t m_handle = 0;  // gcry_cipher_hd_t or HCRYPTKEY
};

}  // namespace net
