#include "net/qr_base_net_codec.h"

#include <zlib.h>

#include <cstring>

#include "base/le_int.h"
#include "net/pdu_frame.h"

namespace net {
namespace {

// The library's key table; the connection key is derived from it at run time.
constexpr uint8_t kKeyTable[32] = {0x51, 0xA2, 0x3C, 0xE7, 0x08, 0x9D, 0x64, 0xF1,
                                   0x2B, 0xC6, 0x7E, 0x13, 0xB9, 0x40, 0xD5, 0x8A,
                                   0x36, 0xEF, 0x92, 0x1D, 0x6B, 0xA8, 0x04, 0xC3,
                                   0x5F, 0x27, 0xE0, 0x79, 0xBE, 0x15, 0x8C, 0x43};

// Datagram XOR keys. Each key's first byte has its low three bits clear, so
// the selector byte (the first scrambled byte) names the same key on both
// sides: index = first PDU byte & 7.
constexpr uint8_t kDatagramKeys[8][8] = {
    {0x58, 0x3E, 0x91, 0xC4, 0x27, 0x7A, 0xE2, 0x0D}, {0xA0, 0x6F, 0x14, 0xD9, 0x83, 0x2C, 0x5B, 0xF6},
    {0x30, 0xB7, 0x4A, 0x1E, 0xE5, 0x92, 0x08, 0x6D}, {0xC8, 0x25, 0x7F, 0xB3, 0x41, 0xDA, 0x96, 0x1C},
    {0x10, 0xE9, 0x53, 0x8E, 0x2A, 0x67, 0xBD, 0xF4}, {0x98, 0x4C, 0xD1, 0x36, 0x7B, 0x05, 0xA3, 0xEE},
    {0x68, 0x12, 0xAF, 0x5D, 0xC0, 0x39, 0x84, 0x27}, {0xE0, 0x73, 0x0B, 0x9A, 0x56, 0xF1, 0x2D, 0xB8},
};

}  // namespace

void ConnectionCipher::DefaultKey(uint8_t key[32]) {
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(kKeyTable[i] + (i % 2 ? 1 : 0));
}

ConnectionCipher::ConnectionCipher() {
  uint8_t key[32];
  DefaultKey(key);
  m_encrypt.SetKey(key);
  m_decrypt.SetKey(key);
}

bool ConnectionCipher::SetEncryptKey(const uint8_t key[32]) { return m_encrypt.SetKey(key); }

bool ConnectionCipher::SetDecryptKey(const uint8_t key[32]) { return m_decrypt.SetKey(key); }

bool ConnectionCipher::Encrypt(uint8_t* data, size_t size) { return m_encrypt.Encrypt(data, size); }

bool ConnectionCipher::Decrypt(uint8_t* data, size_t size) { return m_decrypt.Decrypt(data, size); }

bool EncodePdu(uint16_t type, const uint8_t* body, size_t size, uint16_t flags,
               ConnectionCipher* cipher, std::vector<uint8_t>& out) {
  out.clear();
  if (size == 0) flags = 0;
  if (size < kMinCompressedBody) flags &= ~kFlagCompressed;
  std::vector<uint8_t> inner;
  if (!FramePdu(type, body, size, inner)) return false;
  if ((flags & (kFlagEncrypted | kFlagCompressed)) == 0) {
    out = std::move(inner);
    return true;
  }
  if ((flags & kFlagEncrypted) && !(cipher && cipher->ok())) return false;

  std::vector<uint8_t> payload;
  if (flags & kFlagCompressed) {
    uLongf packed = compressBound(inner.size());
    payload.resize(4 + packed);
    vx::WriteLE32(payload.data(), static_cast<uint32_t>(inner.size()));
    if (compress2(payload.data() + 4, &packed, inner.data(), inner.size(), 9) == Z_OK) {
      payload.resize(4 + packed);
    } else {
      flags &= ~kFlagCompressed;  // sent uncompressed
    }
  }
  if (!(flags & kFlagCompressed)) payload = inner;
  if (flags & kFlagEncrypted) {
    payload.resize((payload.size() + 15) / 16 * 16, 0);
    if (!cipher->Encrypt(payload.data(), payload.size())) return false;
  }
  if (flags == 0) {
    out = std::move(inner);
    return true;
  }
  // Wrapper: type 0, length = payload + 2, flags, payload.
  if (payload.size() + 2 > kMaxPduBody) return false;
  out.resize(6 + payload.size());
  vx::WriteLE16(&out[0], kWrapperType);
  vx::WriteLE16(&out[2], static_cast<uint16_t>(payload.size() + 2));
  vx::WriteLE16(&out[4], flags);
  std::memcpy(&out[6], payload.data(), payload.size());
  return true;
}

int DecodePdu(const uint8_t* pdu, size_t size, ConnectionCipher* cipher, std::vector<uint8_t>& inner,
              bool& dropped) {
  dropped = false;
  inner.clear();
  if (size < kPduHeaderSize) return kErrorWrapper;
  const uint16_t type = vx::ReadLE16(pdu);
  const uint16_t length = vx::ReadLE16(pdu + 2);
  if (size != kPduHeaderSize + static_cast<size_t>(length)) return kErrorWrapper;
  if (type != kWrapperType) {
    inner.assign(pdu, pdu + size);
    return 0;
  }
  return DecodeWrapper(pdu + kPduHeaderSize, length, cipher, inner, dropped);
}

int DecodeWrapper(const uint8_t* body, uint16_t length, ConnectionCipher* cipher,
                  std::vector<uint8_t>& inner, bool& dropped) {
  dropped = false;
  inner.clear();
  if (length < 2) return kErrorWrapper;
  const uint16_t flags = vx::ReadLE16(body);
  if (flags == 0) {
    dropped = true;
    return 0;
  }
  std::vector<uint8_t> payload(body + 2, body + length);
  if (flags & kFlagEncrypted) {
    if (!cipher || payload.size() % 16 != 0 || !cipher->Decrypt(payload.data(), payload.size()))
      return kErrorWrapper;
  }
  if (flags & kFlagCompressed) {
    if (payload.size() < 4) return kErrorWrapper;
    const uint32_t stated = vx::ReadLE32(payload.data());
    if (stated < kPduHeaderSize || stated > kPduHeaderSize + kMaxPduBody) return kErrorWrapper;
    inner.resize(stated);
    uLongf produced = stated;
    // Zero padding after an encrypted stream is ignored by uncompress.
    if (uncompress(inner.data(), &produced, payload.data() + 4, payload.size() - 4) != Z_OK ||
        produced != stated) {
      inner.clear();
      return kErrorWrapper;
    }
  } else {
    inner = std::move(payload);
  }
  // The inner PDU's own header gives its length; padding may follow it.
  if (inner.size() < kPduHeaderSize) return kErrorWrapper;
  const size_t innerTotal = kPduHeaderSize + vx::ReadLE16(&inner[2]);
  if (innerTotal > inner.size() || vx::ReadLE16(&inner[2]) > kMaxPduBody) {
    inner.clear();
    return kErrorWrapper;
  }
  inner.resize(innerTotal);
  return 0;
}

bool UnscrambleDatagram(const uint8_t* data, size_t size, std::vector<uint8_t>& pdu) {
  pdu.clear();
  if (size < 2) return false;
  if (vx::ReadLE16(data) != kScrambledDatagramType) {
    pdu.assign(data, data + size);
    return true;
  }
  if (size < 3 + kPduHeaderSize) return false;
  const uint8_t* key = kDatagramKeys[data[3] & 7];
  pdu.resize(size - 3);
  for (size_t i = 0; i < pdu.size(); ++i) pdu[i] = data[3 + i] ^ key[i % 8];
  return true;
}

std::vector<uint8_t> ScrambleDatagram(const uint8_t* pdu, size_t size) {
  std::vector<uint8_t> out(3 + size);
  vx::WriteLE16(out.data(), kScrambledDatagramType);
  out[2] = 0;
  if (size == 0) return out;
  const uint8_t* key = kDatagramKeys[pdu[0] & 7];
  for (size_t i = 0; i < size; ++i) out[3 + i] = pdu[i] ^ key[i % 8];
  return out;
}

}  // namespace net
