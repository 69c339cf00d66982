#include "net/pdu_frame.h"

#include <algorithm>
#include <cstring>

#include "base/le_int.h"

namespace net {

bool FramePdu(uint16_t type, const uint8_t* body, size_t size, std::vector<uint8_t>& out) {
  if (size > kMaxPduBody) return false;
  const size_t at = out.size();
  out.resize(at + kPduHeaderSize + size);
  vx::WriteLE16(&out[at], type);
  vx::WriteLE16(&out[at + 2], static_cast<uint16_t>(size));
  if (size) std::memcpy(&out[at + kPduHeaderSize], body, size);
  return true;
}

size_t PduCutter::WantedBytes() const {
  if (m_have < kPduHeaderSize) return kPduHeaderSize;
  const uint16_t length = vx::ReadLE16(&m_buffer[2]);
  // An unframable length is cut (and refused) as soon as its header is in.
  return length > kMaxPduBody ? kPduHeaderSize : PduTotal(length);
}

void PduCutter::Reserve() {
  const size_t want = WantedBytes();
  if (m_buffer.size() < want) m_buffer.resize(want);
}

bool PduCutter::Feed(const uint8_t* data, size_t size) {
  if (m_bBroken) return false;
  // Complete a PDU begun by an earlier chunk from the front of this one.
  while (m_have > 0 && size > 0) {
    Reserve();
    const size_t take = std::min(WantedBytes() - m_have, size);
    std::memcpy(&m_buffer[m_have], data, take);
    m_have += take;
    data += take;
    size -= take;
    // Once the header is in, the PDU's total is wanted.
    if (m_have < WantedBytes()) continue;
    DeliverBuffered();
    if (m_bBroken) return false;
  }
  // Whole PDUs straight from the chunk, without copying; keep the rest.
  size_t at = 0;
  while (at < size) {
    const size_t used = Cut(data + at, size - at);
    if (m_bBroken) return false;
    if (used == 0) break;
    at += used;
  }
  if (at < size) {
    const size_t rest = size - at;
    if (m_buffer.size() < rest) m_buffer.resize(rest);
    std::memcpy(m_buffer.data(), data + at, rest);
    m_have = rest;
    Reserve();
  }
  return true;
}

uint8_t* PduCutter::Tail(size_t& missing) {
  missing = 0;
  if (m_bBroken || m_have < kPduHeaderSize) return nullptr;
  const size_t want = WantedBytes();
  if (want <= m_have) return nullptr;
  Reserve();
  missing = want - m_have;
  return m_buffer.data() + m_have;
}

void PduCutter::Commit(size_t n) {
  size_t missing = 0;
  if (!Tail(missing)) return;
  m_have += std::min(n, missing);
  if (m_have == WantedBytes()) DeliverBuffered();
}

void PduCutter::DeliverBuffered() {
  const uint16_t type = vx::ReadLE16(&m_buffer[0]);
  const uint16_t length = vx::ReadLE16(&m_buffer[2]);
  if (length > kMaxPduBody) {
    m_bBroken = true;
    m_have = 0;
    return;
  }
  // Deliver from a buffer of its own so that the sink may feed again safely;
  // its room is taken back when it did not.
  std::vector<uint8_t> pdu;
  pdu.swap(m_buffer);
  m_have = 0;
  m_sink(type, pdu.data() + kPduHeaderSize, length);
  if (m_have == 0) m_buffer.swap(pdu);
}

size_t PduCutter::Cut(const uint8_t* data, size_t size) {
  if (size < kPduHeaderSize) return 0;
  const uint16_t type = vx::ReadLE16(data);
  const uint16_t length = vx::ReadLE16(data + 2);
  // A length above 65531 wraps the 16-bit total below the header size: no
  // sender of ours frames it, and cutting it would never advance.
  if (length > kMaxPduBody) {
    m_bBroken = true;
    m_have = 0;
    return 0;
  }
  const size_t total = PduTotal(length);
  if (size < total) return 0;
  m_sink(type, data + kPduHeaderSize, length);
  return total;
}

}  // namespace net
