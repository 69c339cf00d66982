// AES-256-ECB and MD5 with libgcrypt.
#include <gcrypt.h>

#include "net/aes256_ecb.h"
#include "net/gcrypt_init.h"
#include "net/md5_digest.h"

namespace net {
namespace {

gcry_cipher_hd_t Cipher(uintptr_t h) { return reinterpret_cast<gcry_cipher_hd_t>(h); }
gcry_md_hd_t Digest(uintptr_t h) { return reinterpret_cast<gcry_md_hd_t>(h); }

}  // namespace

Aes256Ecb::~Aes256Ecb() { Close(); }

void Aes256Ecb::Close() {
  if (m_handle) gcry_cipher_close(Cipher(m_handle));
  m_handle = 0;
}

bool Aes256Ecb::SetKey(const uint8_t key[32]) {
  Close();
  vx::InitGcrypt();
  gcry_cipher_hd_t h = nullptr;
  if (gcry_cipher_open(&h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_ECB, 0) != 0) return false;
  if (gcry_cipher_setkey(h, key, 32) != 0) {
    gcry_cipher_close(h);
    return false;
  }
  m_handle = reinterpret_cast<uintptr_t>(h);
  return true;
}

bool Aes256Ecb::Encrypt(uint8_t* data, size_t size) {
  return m_handle && size % 16 == 0 && gcry_cipher_encrypt(Cipher(m_handle), data, size, nullptr, 0) == 0;
}

bool Aes256Ecb::Decrypt(uint8_t* data, size_t size) {
  return m_handle && size % 16 == 0 && gcry_cipher_decrypt(Cipher(m_handle), data, size, nullptr, 0) == 0;
}

Md5Digest::Md5Digest() {
  vx::InitGcrypt();
  gcry_md_hd_t h = nullptr;
  if (gcry_md_open(&h, GCRY_MD_MD5, 0) == 0) m_handle = reinterpret_cast<uintptr_t>(h);
}

Md5Digest::~Md5Digest() {
  if (m_handle) gcry_md_close(Digest(m_handle));
}

void Md5Digest::Add(const uint8_t* data, size_t size) {
  if (m_handle && size) gcry_md_write(Digest(m_handle), data, size);
}

std::string Md5Digest::Hex() {
  const unsigned char* d = m_handle ? gcry_md_read(Digest(m_handle), GCRY_MD_MD5) : nullptr;
  return d ? HexDigits(d, 16) : std::string();
}

}  // namespace net
