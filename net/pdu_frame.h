#pragma once
// PDUs: a 4-byte header (uint16 type, uint16 body length, little-endian) and
// the body. The total is computed in 16 bits, so a body holds at most 65531
// bytes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace net {

constexpr size_t kPduHeaderSize = 4;
constexpr size_t kMaxPduBody = 65531;

inline uint16_t PduTotal(uint16_t bodyLength) { return static_cast<uint16_t>(bodyLength + 4); }

// Appends header and body to `out`. False, and nothing appended, when the body
// is too long to be framed.
bool FramePdu(uint16_t type, const uint8_t* body, size_t size, std::vector<uint8_t>& out);

// Cuts PDUs from a byte stream the way the update network manager posts its
// receives: 4 bytes, then the PDU's total. Feed arbitrary chunks, or read the
// rest of a PDU begun straight into Tail() and Commit it.
class PduCutter {
 public:
  using Sink = std::function<void(uint16_t type, const uint8_t* body, uint16_t length)>;
  explicit PduCutter(Sink sink) : m_sink(std::move(sink)) {}

  // False once the stream is broken (a length that cannot be framed); the
  // connection must then be closed. Nothing more is delivered after that.
  bool Feed(const uint8_t* data, size_t size);
  // Where the missing bytes of a PDU begun (header complete) go, and how many
  // they are; nullptr when no such PDU is pending.
  uint8_t* Tail(size_t& missing);
  // `n` bytes (at most the missing ones) were written at Tail(); the PDU is
  // delivered once complete.
  void Commit(size_t n);
  // Bytes the next receive asks for: 4, or the current PDU's total.
  size_t WantedBytes() const;
  size_t Buffered() const { return m_have; }
  bool Broken() const { return m_bBroken; }
  // Frees the buffer of a cutter holding nothing (an idle connection).
  void Release() {
    if (m_have == 0) std::vector<uint8_t>().swap(m_buffer);
  }

 private:
  // Delivers the PDU at `data` when complete; returns its total or 0.
  size_t Cut(const uint8_t* data, size_t size);
  // Delivers the PDU completed in m_buffer.
  void DeliverBuffered();
  // Makes room for the PDU begun in m_buffer (its total, once the header is in).
  void Reserve();

  Sink m_sink;
  std::vector<uint8_t> m_buffer;  // the PDU begun: m_have bytes, room for its total
  size_t m_have = 0;
  bool m_bBroken = false;
};

}  // namespace net
