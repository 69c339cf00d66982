#pragma once
// VX_ByteStream: the maker's byte stream. Little-endian integers, strings with
// a compact length prefix and UTF-8 bytes, int32-prefixed byte blocks. A
// stream either loads from a buffer or stores into one; passing the end of the
// buffer throws VX_StreamError (0x81000001 loading, 0x81000002 storing).
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

constexpr uint32_t kStreamErrorLoad = 0x81000001;
constexpr uint32_t kStreamErrorStore = 0x81000002;

class VX_StreamError : public std::runtime_error {
 public:
  explicit VX_StreamError(uint32_t code);
  uint32_t code() const { return m_nCode; }

 private:
  uint32_t m_nCode;
};

class VX_ByteStream {
 public:
  enum class Prefix { Compact, Long };

  static constexpr struct LoadFrom_t {} LoadFrom{};
  static constexpr struct StoreInto_t {} StoreInto{};

  // Load stream over `size` bytes at `data` (not owned, not copied).
  VX_ByteStream(LoadFrom_t, const void* data, size_t size);
  // Store stream that grows in blocks of `blockSize` bytes up to `maxSize`.
  explicit VX_ByteStream(size_t blockSize = 4096, size_t maxSize = 0x7FFFFFFF);
  // Store stream over a caller's fixed buffer of `capacity` bytes.
  VX_ByteStream(StoreInto_t, void* buffer, size_t capacity);

  VX_ByteStream(const VX_ByteStream&) = delete;
  VX_ByteStream& operator=(const VX_ByteStream&) = delete;

  bool IsLoading() const { return m_bLoad; }
  size_t Position() const { return m_nPos; }
  // Loading: the buffer size. Storing: the bytes written so far.
  size_t Size() const { return m_bLoad ? m_nSize : m_nPos; }
  size_t Remaining() const { return m_bLoad ? m_nSize - m_nPos : 0; }
  const uint8_t* Data() const { return m_pData; }
  std::vector<uint8_t> TakeBytes() const { return {m_pData, m_pData + Size()}; }

  // Loading.
  uint8_t ReadUInt8();
  uint16_t ReadUInt16();
  uint32_t ReadUInt32();
  int32_t ReadInt32() { return static_cast<int32_t>(ReadUInt32()); }
  int64_t ReadInt64();
  uint32_t ReadLength(Prefix form = Prefix::Compact);
  std::string ReadStringUtf8(Prefix form = Prefix::Compact);  // raw UTF-8 bytes
  std::u16string ReadString(Prefix form = Prefix::Compact);   // decoded
  std::vector<uint8_t> ReadBlock();
  void ReadRaw(void* out, size_t n);

  // Storing.
  void WriteUInt8(uint8_t v);
  void WriteUInt16(uint16_t v);
  void WriteUInt32(uint32_t v);
  void WriteInt32(int32_t v) { WriteUInt32(static_cast<uint32_t>(v)); }
  void WriteInt64(int64_t v);
  void WriteLength(uint32_t n, Prefix form = Prefix::Compact);
  void WriteStringUtf8(std::string_view utf8, Prefix form = Prefix::Compact);
  void WriteString(std::u16string_view text, Prefix form = Prefix::Compact);
  void WriteBlock(const void* data, size_t n);
  void WriteRaw(const void* data, size_t n);

 private:
  const uint8_t* Take(size_t n);  // loading: n bytes or throw
  uint8_t* Reserve(size_t n);     // storing: room for n bytes or throw

  bool m_bLoad;
  bool m_bFixed;
  uint8_t* m_pData;
  size_t m_nSize;  // buffer size (load) or capacity (store)
  size_t m_nPos = 0;
  size_t m_nBlock = 4096;
  size_t m_nMax = 0;
  std::vector<uint8_t> m_buffer;  // growable store stream
};

}  // namespace vx
