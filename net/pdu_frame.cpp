#include "net/pdu_frame.h"

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
  return PduTotal(vx::ReadLE16(&m_buffer[2]));
}

bool PduCutter::Feed(const uint8_t* data, size_t size) {
  if (m_bBroken) return false;
  m_buffer.insert(m_buffer.end(), data, data + size);
  size_t at = 0;
  for (;;) {
    const size_t available = m_buffer.size() - at;
    if (available < kPduHeaderSize) break;
    const uint16_t type = vx::ReadLE16(&m_buffer[at]);
    const uint16_t length = vx::ReadLE16(&m_buffer[at + 2]);
    // A length above 65531 wraps the 16-bit total below the header size: no
    // sender of ours frames it, and cutting it would never advance.
    if (length > kMaxPduBody) {
      m_bBroken = true;
      m_buffer.clear();
      return false;
    }
    const size_t total = PduTotal(length);
    if (available < total) break;
    m_sink(type, &m_buffer[at + kPduHeaderSize], length);
    at += total;
  }
  m_buffer.erase(m_buffer.begin(), m_buffer.begin() + at);
  return true;
}

}  // namespace net
