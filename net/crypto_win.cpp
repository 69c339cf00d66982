// AES-256-ECB and MD5 with the system's CryptoAPI (the AES provider type,
// present from Windows XP SP3 on).
#include <windows.h>
#include <wincrypt.h>

#include <climits>

#include "net/aes256_ecb.h"
#include "net/md5_digest.h"

namespace net {
namespace {

// One verify-only context for the process, never released.
HCRYPTPROV Provider() {
  static const HCRYPTPROV provider = [] {
    HCRYPTPROV p = 0;
    if (!CryptAcquireContextW(&p, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) p = 0;
    return p;
  }();
  return provider;
}

struct AesKeyBlob {
  BLOBHEADER header;
  DWORD size;
  BYTE key[32];
};

// CryptoAPI takes DWORD lengths; PDUs and pieces stay far below.
bool FitsDword(size_t size) { return size <= MAXDWORD; }

}  // namespace

Aes256Ecb::~Aes256Ecb() { Close(); }

void Aes256Ecb::Close() {
  if (m_handle) CryptDestroyKey(HCRYPTKEY(m_handle));
  m_handle = 0;
}

bool Aes256Ecb::SetKey(const uint8_t key[32]) {
  Close();
  const HCRYPTPROV provider = Provider();
  if (!provider) return false;
  AesKeyBlob blob{};
  blob.header.bType = PLAINTEXTKEYBLOB;
  blob.header.bVersion = CUR_BLOB_VERSION;
  blob.header.aiKeyAlg = CALG_AES_256;
  blob.size = 32;
  for (int i = 0; i < 32; ++i) blob.key[i] = key[i];
  HCRYPTKEY k = 0;
  const bool imported = CryptImportKey(provider, reinterpret_cast<const BYTE*>(&blob), sizeof blob, 0, 0, &k);
  SecureZeroMemory(&blob, sizeof blob);
  if (!imported) return false;
  DWORD mode = CRYPT_MODE_ECB;
  if (!CryptSetKeyParam(k, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0)) {
    CryptDestroyKey(k);
    return false;
  }
  m_handle = uintptr_t(k);
  return true;
}

// Not final: no padding is added or expected, every block is processed.
bool Aes256Ecb::Encrypt(uint8_t* data, size_t size) {
  if (!m_handle || size % 16 != 0 || !FitsDword(size)) return false;
  if (size == 0) return true;
  DWORD length = DWORD(size);
  return CryptEncrypt(HCRYPTKEY(m_handle), 0, FALSE, 0, data, &length, DWORD(size)) && length == size;
}

bool Aes256Ecb::Decrypt(uint8_t* data, size_t size) {
  if (!m_handle || size % 16 != 0 || !FitsDword(size)) return false;
  if (size == 0) return true;
  DWORD length = DWORD(size);
  return CryptDecrypt(HCRYPTKEY(m_handle), 0, FALSE, 0, data, &length) && length == size;
}

Md5Digest::Md5Digest() {
  HCRYPTHASH h = 0;
  const HCRYPTPROV provider = Provider();
  if (provider && CryptCreateHash(provider, CALG_MD5, 0, 0, &h)) m_handle = uintptr_t(h);
}

Md5Digest::~Md5Digest() {
  if (m_handle) CryptDestroyHash(HCRYPTHASH(m_handle));
}

void Md5Digest::Add(const uint8_t* data, size_t size) {
  constexpr size_t kMaxPiece = size_t(1) << 30;
  while (m_handle && !m_failed && size) {
    const DWORD piece = DWORD(size < kMaxPiece ? size : kMaxPiece);
    if (!CryptHashData(HCRYPTHASH(m_handle), data, piece, 0)) m_failed = true;
    data += piece;
    size -= piece;
  }
}

std::string Md5Digest::Hex() {
  BYTE digest[16];
  DWORD length = sizeof digest;
  if (!m_handle || m_failed || !CryptGetHashParam(HCRYPTHASH(m_handle), HP_HASHVAL, digest, &length, 0) ||
      length != sizeof digest)
    return {};
  return HexDigits(digest, sizeof digest);
}

}  // namespace net
