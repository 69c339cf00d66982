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
  if (m_buffer.size() < kPduHeaderSize) return kPduHeaderSize;
  const uint16_t length = vx::ReadLE16(&m_buffer[2]);
  // An unframable length is cut (and refused) as soon as its header is in.
  return length > kMaxPduBody ? kPduHeaderSize : PduTotal(length);
}

bool PduCutter::Feed(const uint8_t* data, size_t size) {
  if (m_bBroken) return false;
  // Complete a PDU begun by an earlier chunk from the front of this one.
  while (!m_buffer.empty() && size > 0) {
    const size_t want = WantedBytes();
    const size_t take = std::min(want - m_buffer.size(), size);
    m_buffer.insert(m_buffer.end(), data, data + take);
    data += take;
    size -= take;
    // Once the header is in, the PDU's total is wanted.
    if (m_buffer.size() < WantedBytes()) continue;
    if (!Cut(m_buffer.data(), m_buffer.size())) return false;
  }
  // Whole PDUs straight from the chunk, without copying; keep the rest.
  size_t at = 0;
  while (at < size) {
    const size_t used = Cut(data + at, size - at);
    if (m_bBroken) return false;
    if (used == 0) break;
    at += used;
  }
  m_buffer.insert(m_buffer.end(), data + at, data + size);
  return true;
}

size_t PduCutter::Cut(const uint8_t* data, size_t size) {
  if (size < kPduHeaderSize) return 0;
  const uint16_t type = vx::ReadLE16(data);
  const uint16_t length = vx::ReadLE16(data + 2);
  // A length above 65531 wraps the 16-bit total below the header size: no
  // sender of ours frames it, and cutting it would never advance.
  if (length > kMaxPduBody) {
    m_bBroken = true;
    m_buffer.clear();
    return 0;
  }
  const size_t total = PduTotal(length);
  if (size < total) return 0;
  if (data == m_buffer.data()) {
    // Deliver from a copy so the sink may feed again safely.
    std::vector<uint8_t> pdu;
    pdu.swap(m_buffer);
    m_sink(type, pdu.data() + kPduHeaderSize, length);
  } else {
    m_sink(type, data + kPduHeaderSize, length);
  }
  return total;
}

}  // namespace net
