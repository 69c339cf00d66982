#pragma once
// Streaming encoder for payload streams (the packager's side of lzma_stream.h):
// input in any pieces, output to a sink, memory bounded by the level and the
// input size, never by how much is fed.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace package {

constexpr int kMaxLevel = 9;
constexpr int kDefaultLevel = 6;

// Encoder memory in bytes for `size` bytes of input at `level` (0-9).
uint64_t EncoderMemory(int level, uint64_t size);

class StreamEncoder {
 public:
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;
  // `size` is the whole input's length (the header's declared size).
  StreamEncoder(uint32_t size, int level, Sink sink);
  ~StreamEncoder();
  StreamEncoder(const StreamEncoder&) = delete;
  StreamEncoder& operator=(const StreamEncoder&) = delete;

  // Feeds input; `last` marks the final piece. False on an encoder error or
  // when the sink refuses; nothing more may be fed then.
  bool Feed(const uint8_t* data, size_t size, bool last);
  uint64_t Written() const { return m_nWritten; }

 private:
  bool Put(const uint8_t* data, size_t size);

  Sink m_sink;
  void* m_pLzma = nullptr;  // lzma_stream
  bool m_bFailed = false;
  uint64_t m_nWritten = 0;
  uint8_t m_out[1 << 16];
};

// True when a sample of the data does not shrink at the fastest level: the
// data is stored without the full pass.
bool LooksIncompressible(const uint8_t* sample, size_t size);

}  // namespace package
