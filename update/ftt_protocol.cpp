#include "update/ftt_protocol.h"

#include <cstring>

#include "base/utf16.h"
#include "base/vx_byte_stream.h"
#include "update/download_file.h"
#include "update/ftt_types.h"

namespace ftt {
namespace {

// Runs `read` over the whole body; false when it throws or leaves bytes.
template <class Read>
bool Load(const uint8_t* body, size_t size, Read read) {
  try {
    vx::VX_ByteStream s(vx::VX_ByteStream::LoadFrom, body, size);
    if (!read(s)) return false;
    return s.Remaining() == 0;
  } catch (const vx::VX_StreamError&) {
    return false;
  }
}

template <class Write>
std::vector<uint8_t> Store(Write write) {
  vx::VX_ByteStream s;
  write(s);
  return s.TakeBytes();
}

}  // namespace

std::string KeyProof(const char* secretKey, const std::u16string& fileKey) {
  const size_t keyLength = strnlen(secretKey, FTT_SECRET_KEY_LENGTH);
  std::string material(secretKey, keyLength);
  material += vx::Utf16ToUtf8(fileKey);
  return update::Md5Hex(reinterpret_cast<const uint8_t*>(material.data()), material.size());
}

std::vector<uint8_t> EncodeAuthRequest(const AuthRequest& m) {
  return Store([&](vx::VX_ByteStream& s) {
    s.WriteInt32(m.version);
    s.WriteStringUtf8(m.authCode);
    s.WriteString(m.fileKey);
    s.WriteString(m.identity);
    s.WriteStringUtf8(m.keyProof);
  });
}

std::vector<uint8_t> EncodeAuthResponse(const AuthResponse& m) {
  return Store([&](vx::VX_ByteStream& s) {
    s.WriteInt32(m.result);
    s.WriteInt64(m.fileLength);
  });
}

std::vector<uint8_t> EncodeDownloadRequest(const DownloadRequest& m) {
  return Store([&](vx::VX_ByteStream& s) {
    s.WriteInt64(m.offset);
    s.WriteInt32(m.length);
  });
}

std::vector<uint8_t> EncodeDownloadResponse(const DownloadResponse& m) {
  if (m.data.size() > FTT_MAX_PACKAGE_SIZE) return {};
  return Store([&](vx::VX_ByteStream& s) {
    s.WriteInt64(m.offset);
    s.WriteRaw(m.data.data(), m.data.size());
  });
}

std::vector<uint8_t> EncodeInt64Notice(int64_t value) {
  return Store([&](vx::VX_ByteStream& s) { s.WriteInt64(value); });
}

std::vector<uint8_t> EncodeInt32Notice(int32_t value) {
  return Store([&](vx::VX_ByteStream& s) { s.WriteInt32(value); });
}

std::vector<uint8_t> EncodeErrorNotice(const ErrorNotice& m) {
  return Store([&](vx::VX_ByteStream& s) {
    s.WriteInt32(m.code);
    s.WriteString(m.text);
  });
}

bool DecodeAuthRequest(const uint8_t* body, size_t size, AuthRequest& m) {
  AuthRequest d;
  if (!Load(body, size, [&](vx::VX_ByteStream& s) {
        d.version = s.ReadInt32();
        d.authCode = s.ReadStringUtf8();
        d.fileKey = s.ReadString();
        d.identity = s.ReadString();
        d.keyProof = s.ReadStringUtf8();
        return true;
      }))
    return false;
  m = std::move(d);
  return true;
}

bool DecodeAuthResponse(const uint8_t* body, size_t size, AuthResponse& m) {
  AuthResponse d;
  if (!Load(body, size, [&](vx::VX_ByteStream& s) {
        d.result = s.ReadInt32();
        d.fileLength = s.ReadInt64();
        return d.fileLength >= 0;
      }))
    return false;
  m = d;
  return true;
}

bool DecodeDownloadRequest(const uint8_t* body, size_t size, DownloadRequest& m) {
  DownloadRequest d;
  if (!Load(body, size, [&](vx::VX_ByteStream& s) {
        d.offset = s.ReadInt64();
        d.length = s.ReadInt32();
        return d.offset >= 0 && d.length > 0 && d.length <= kMaxRequestLength;
      }))
    return false;
  m = d;
  return true;
}

bool DecodeDownloadResponse(const uint8_t* body, size_t size, DownloadResponse& m) {
  DownloadResponse d;
  if (!Load(body, size, [&](vx::VX_ByteStream& s) {
        d.offset = s.ReadInt64();
        if (d.offset < 0 || s.Remaining() > FTT_MAX_PACKAGE_SIZE) return false;
        d.data.resize(s.Remaining());
        s.ReadRaw(d.data.data(), d.data.size());
        return true;
      }))
    return false;
  m = std::move(d);
  return true;
}

bool ParseDownloadResponse(const uint8_t* body, size_t size, int64_t& offset, const uint8_t*& data, size_t& n) {
  if (size < kDownloadResponseHeader || size - kDownloadResponseHeader > FTT_MAX_PACKAGE_SIZE) return false;
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | body[i];
  offset = int64_t(value);
  if (offset < 0) return false;
  data = body + kDownloadResponseHeader;
  n = size - kDownloadResponseHeader;
  return true;
}

bool DecodeInt64Notice(const uint8_t* body, size_t size, int64_t& value) {
  return Load(body, size, [&](vx::VX_ByteStream& s) {
    value = s.ReadInt64();
    return true;
  });
}

bool DecodeInt32Notice(const uint8_t* body, size_t size, int32_t& value) {
  return Load(body, size, [&](vx::VX_ByteStream& s) {
    value = s.ReadInt32();
    return true;
  });
}

bool DecodeErrorNotice(const uint8_t* body, size_t size, ErrorNotice& m) {
  ErrorNotice d;
  if (!Load(body, size, [&](vx::VX_ByteStream& s) {
        d.code = s.ReadInt32();
        d.text = s.ReadString();
        return true;
      }))
    return false;
  m = std::move(d);
  return true;
}

bool DecodeFeatures(const uint8_t* body, size_t size, int32_t& features) {
  if (size < 4) return false;
  features = int32_t(uint32_t(body[0]) | uint32_t(body[1]) << 8 | uint32_t(body[2]) << 16 | uint32_t(body[3]) << 24);
  return true;
}

}  // namespace ftt
