#pragma once
// Payload streams in the LZMA-alone layout: 5 property bytes (0x5D, 16 MiB
// dictionary), the 8-byte uncompressed size of which only the low 32 bits
// count, raw LZMA data from offset 13. A byte of 1 at offset 12 marks a
// stored stream whose content follows offset 13 as is.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace package {

constexpr size_t kStreamHeaderSize = 13;
constexpr uint8_t kLzmaProperties = 0x5D;
constexpr uint32_t kLzmaDictionary = 1u << 24;

// LZMA-compresses `size` bytes (no end marker; the size is in the header).
// Returns false when the encoder fails.
bool CompressStream(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int level = 6);

// The 13-byte header of a stored stream of `size` bytes.
std::vector<uint8_t> StoredStreamHeader(uint32_t size);

// The stored form of the same content.
std::vector<uint8_t> StoreStream(const uint8_t* data, size_t size);

// Compressed when that is smaller, else stored.
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, bool* stored = nullptr);

uint32_t DeclaredSize(const uint8_t* stream);  // needs kStreamHeaderSize bytes
bool IsStoredStream(const uint8_t* stream);

// The dictionary a decoder needs for a stream: its dictionary field bounded by
// the declared size (at least 4 KiB). False when the field is larger than
// 16 MiB: such a stream is refused.
constexpr uint32_t kMinDictionary = 4096;
bool DecoderDictionary(const uint8_t* stream, uint32_t& dictionary);

// Streaming decoder: feed the L bytes of a stream in any pieces; decoded bytes
// go to the sink in bounded pieces, never more than the declared size in all.
class StreamDecoder {
 public:
  // Returns false to stop decoding (for example a failed write).
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;
  enum class Status { NeedInput, Done, Error, SinkFailed };

  explicit StreamDecoder(Sink sink);
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // Feeds input; `last` marks the final piece. Done once the declared size
  // was produced or, with the last piece, the input ran out without an error
  // (the decoder may stop early at the end of input).
  Status Feed(const uint8_t* data, size_t size, bool last);
  uint64_t Produced() const { return m_nProduced; }
  uint32_t Declared() const { return m_nDeclared; }
  bool Stored() const { return m_bStored; }

 private:
  Status Start();
  Status Emit(const uint8_t* data, size_t size);

  Sink m_sink;
  uint8_t m_header[kStreamHeaderSize] = {};
  size_t m_nHeader = 0;
  bool m_bStarted = false;
  bool m_bStored = false;
  bool m_bFinished = false;
  uint32_t m_nDeclared = 0;
  uint64_t m_nProduced = 0;
  void* m_pLzma = nullptr;  // lzma_stream
  std::vector<uint8_t> m_out;
};

// Decodes a whole stream held in memory. Returns the decoded length, or -1 on
// a decoder error (the stored form returns L - 13).
int64_t DecodeStreamToVector(const uint8_t* stream, size_t size, std::vector<uint8_t>& out);

}  // namespace package
