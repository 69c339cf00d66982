#pragma once
// The PDU layer of QR_BaseNet: the wrapper PDU (type 0, "PDU_QR_ENCRYPT_DATA")
// that carries an inner PDU compressed with zlib and/or encrypted with
// AES-256-ECB, and the scrambled datagrams of type 0xF000.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/aes256_ecb.h"

namespace net {

constexpr uint16_t kWrapperType = 0;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagCompressed = 2;
constexpr size_t kMinCompressedBody = 100;
constexpr uint16_t kScrambledDatagramType = 0xF000;

constexpr int kErrorPostReceive = -3;
constexpr int kErrorWrapper = -4;

// The per-connection AES-256-ECB contexts, keyed from the library's table.
class ConnectionCipher {
 public:
  ConnectionCipher();  // the default connection key
  ConnectionCipher(const ConnectionCipher&) = delete;
  ConnectionCipher& operator=(const ConnectionCipher&) = delete;

  bool SetEncryptKey(const uint8_t key[32]);
  bool SetDecryptKey(const uint8_t key[32]);
  bool ok() const { return m_encrypt.ok() && m_decrypt.ok(); }
  // In place, `size` a multiple of 16.
  bool Encrypt(uint8_t* data, size_t size);
  bool Decrypt(uint8_t* data, size_t size);

  // The connection key: the table's bytes at odd positions increased by 1.
  static void DefaultKey(uint8_t key[32]);

 private:
  Aes256Ecb m_encrypt, m_decrypt;
};

// Builds what goes on the wire for a PDU: the PDU itself when no flag remains,
// otherwise the wrapper. An empty body clears the flags; a body under 100 bytes
// is not compressed; a failed compression sends uncompressed. Returns false
// when the body cannot be framed or encryption is asked without a cipher.
bool EncodePdu(uint16_t type, const uint8_t* body, size_t size, uint16_t flags,
               ConnectionCipher* cipher, std::vector<uint8_t>& out);

// Unwraps one complete received PDU (header included). Plain PDUs come back as
// they are; a wrapper yields its inner PDU. Returns 0 and sets `dropped` for a
// wrapper with flags 0, kErrorWrapper for a bad wrapper.
int DecodePdu(const uint8_t* pdu, size_t size, ConnectionCipher* cipher, std::vector<uint8_t>& inner,
              bool& dropped);

// The same for the body of a wrapper (type 0) already cut from the stream.
int DecodeWrapper(const uint8_t* body, uint16_t length, ConnectionCipher* cipher,
                  std::vector<uint8_t>& inner, bool& dropped);

// A datagram: scrambled ones are unscrambled (the PDU starts at offset 3).
// Returns false for datagrams to ignore (shorter than 2 bytes, or a scrambled
// one too short to hold a PDU header).
bool UnscrambleDatagram(const uint8_t* data, size_t size, std::vector<uint8_t>& pdu);
// The sender's side: type 0xF000, one byte, then the PDU XORed; the key index
// follows from the PDU's first byte.
std::vector<uint8_t> ScrambleDatagram(const uint8_t* pdu, size_t size);

}  // namespace net
