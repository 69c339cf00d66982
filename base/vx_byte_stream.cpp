#include "base/vx_byte_stream.h"

#include <cstring>
#include <cstdio>

#include "base/le_int.h"
#include "base/utf16.h"
#include "base/vx_assert.h"

namespace vx {
namespace {

std::string ErrorText(uint32_t code) {
  char text[48];
  std::snprintf(text, sizeof text, "byte stream error 0x%08X", code);
  return text;
}

}  // namespace

VX_StreamError::VX_StreamError(uint32_t code) : std::runtime_error(ErrorText(code)), m_nCode(code) {}

VX_ByteStream::VX_ByteStream(LoadFrom_t, const void* data, size_t size)
    : m_bLoad(true),
      m_bFixed(true),
      m_pData(static_cast<uint8_t*>(const_cast<void*>(data))),
      m_nSize(data ? size : 0) {
  // An empty buffer is a buffer (reads raise the stream error); only a missing
  // buffer of non-zero size is "no buffer".
  static uint8_t s_empty;
  if (!data && size == 0) m_pData = &s_empty;
}

VX_ByteStream::VX_ByteStream(size_t blockSize, size_t maxSize)
    : m_bLoad(false), m_bFixed(false), m_nBlock(blockSize ? blockSize : 4096), m_nMax(maxSize) {
  m_buffer.resize(m_nBlock < m_nMax ? m_nBlock : m_nMax);
  m_pData = m_buffer.data();
  m_nSize = m_buffer.size();
}

VX_ByteStream::VX_ByteStream(StoreInto_t, void* buffer, size_t capacity)
    : m_bLoad(false), m_bFixed(true), m_pData(static_cast<uint8_t*>(buffer)), m_nSize(buffer ? capacity : 0) {}

const uint8_t* VX_ByteStream::Take(size_t n) {
  const uint8_t* pData = m_pData;
  VX_ASSERT(m_bLoad && pData);
  if (n > m_nSize - m_nPos) throw VX_StreamError(kStreamErrorLoad);
  const uint8_t* p = m_pData + m_nPos;
  m_nPos += n;
  return p;
}

uint8_t* VX_ByteStream::Reserve(size_t n) {
  const uint8_t* pData = m_pData;
  VX_ASSERT(!m_bLoad && pData);
  if (n > m_nSize - m_nPos) {
    if (m_bFixed || n > m_nMax - m_nPos) throw VX_StreamError(kStreamErrorStore);
    size_t need = m_nPos + n;
    size_t grown = (need + m_nBlock - 1) / m_nBlock * m_nBlock;
    if (grown < m_nSize * 2) grown = m_nSize * 2;  // amortised growth
    if (grown > m_nMax) grown = m_nMax;
    m_buffer.resize(grown);
    m_pData = m_buffer.data();
    m_nSize = grown;
  }
  uint8_t* p = m_pData + m_nPos;
  m_nPos += n;
  return p;
}

uint8_t VX_ByteStream::ReadUInt8() { return *Take(1); }
uint16_t VX_ByteStream::ReadUInt16() { return ReadLE16(Take(2)); }
uint32_t VX_ByteStream::ReadUInt32() { return ReadLE32(Take(4)); }

int64_t VX_ByteStream::ReadInt64() {
  const uint8_t* p = Take(8);
  return static_cast<int64_t>(ReadLE32(p) | (static_cast<uint64_t>(ReadLE32(p + 4)) << 32));
}

uint32_t VX_ByteStream::ReadLength(Prefix form) {
  if (form == Prefix::Long) {
    const int32_t n = ReadInt32();
    if (n < 0) throw VX_StreamError(kStreamErrorLoad);
    return static_cast<uint32_t>(n);
  }
  const uint8_t b = ReadUInt8();
  if (b < 0x80) return b;
  if (b < 0xC0) return (static_cast<uint32_t>(b & 0x3F) << 8) | ReadUInt8();
  if (b < 0xE0) {
    const uint8_t* p = Take(2);
    return (static_cast<uint32_t>(b & 0x1F) << 16) | (p[0] << 8) | p[1];
  }
  if (b < 0xF0) {
    const uint8_t* p = Take(3);
    return (static_cast<uint32_t>(b & 0x0F) << 24) | (p[0] << 16) | (p[1] << 8) | p[2];
  }
  if (b == 0xF0) {
    const uint8_t* p = Take(4);
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
  }
  throw VX_StreamError(kStreamErrorLoad);
}

std::string VX_ByteStream::ReadStringUtf8(Prefix form) {
  const uint32_t n = ReadLength(form);
  const uint8_t* p = Take(n);
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::u16string VX_ByteStream::ReadString(Prefix form) { return Utf8ToUtf16(ReadStringUtf8(form)); }

std::vector<uint8_t> VX_ByteStream::ReadBlock() {
  const int32_t n = ReadInt32();
  if (n < 0) throw VX_StreamError(kStreamErrorLoad);
  const uint8_t* p = Take(static_cast<size_t>(n));
  return std::vector<uint8_t>(p, p + n);
}

void VX_ByteStream::ReadRaw(void* out, size_t n) {
  const uint8_t* p = Take(n);
  if (n) std::memcpy(out, p, n);
}

void VX_ByteStream::WriteUInt8(uint8_t v) { *Reserve(1) = v; }
void VX_ByteStream::WriteUInt16(uint16_t v) { WriteLE16(Reserve(2), v); }
void VX_ByteStream::WriteUInt32(uint32_t v) { WriteLE32(Reserve(4), v); }

void VX_ByteStream::WriteInt64(int64_t v) {
  uint8_t* p = Reserve(8);
  WriteLE32(p, static_cast<uint32_t>(v));
  WriteLE32(p + 4, static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
}

void VX_ByteStream::WriteLength(uint32_t n, Prefix form) {
  if (form == Prefix::Long) {
    if (n > 0x7FFFFFFF) throw VX_StreamError(kStreamErrorStore);
    WriteInt32(static_cast<int32_t>(n));
    return;
  }
  if (n < 0x80) {
    WriteUInt8(static_cast<uint8_t>(n));
  } else if (n < 0x4000) {
    uint8_t* p = Reserve(2);
    p[0] = static_cast<uint8_t>(0x80 | (n >> 8));
    p[1] = static_cast<uint8_t>(n);
  } else if (n < 0x200000) {
    uint8_t* p = Reserve(3);
    p[0] = static_cast<uint8_t>(0xC0 | (n >> 16));
    p[1] = static_cast<uint8_t>(n >> 8);
    p[2] = static_cast<uint8_t>(n);
  } else if (n < 0x10000000) {
    uint8_t* p = Reserve(4);
    p[0] = static_cast<uint8_t>(0xE0 | (n >> 24));
    p[1] = static_cast<uint8_t>(n >> 16);
    p[2] = static_cast<uint8_t>(n >> 8);
    p[3] = static_cast<uint8_t>(n);
  } else {
    uint8_t* p = Reserve(5);
    p[0] = 0xF0;
    p[1] = static_cast<uint8_t>(n >> 24);
    p[2] = static_cast<uint8_t>(n >> 16);
    p[3] = static_cast<uint8_t>(n >> 8);
    p[4] = static_cast<uint8_t>(n);
  }
}

void VX_ByteStream::WriteStringUtf8(std::string_view utf8, Prefix form) {
  if (utf8.size() > 0xFFFFFFFFu) throw VX_StreamError(kStreamErrorStore);
  WriteLength(static_cast<uint32_t>(utf8.size()), form);
  WriteRaw(utf8.data(), utf8.size());
}

void VX_ByteStream::WriteString(std::u16string_view text, Prefix form) {
  WriteStringUtf8(Utf16ToStreamUtf8(text), form);
}

void VX_ByteStream::WriteBlock(const void* data, size_t n) {
  if (n > 0x7FFFFFFF) throw VX_StreamError(kStreamErrorStore);
  WriteInt32(static_cast<int32_t>(n));
  WriteRaw(data, n);
}

void VX_ByteStream::WriteRaw(const void* data, size_t n) {
  uint8_t* p = Reserve(n);
  if (n) std::memcpy(p, data, n);
}

}  // namespace vx
