#include "net/qr_base_net.h"

#include "base/le_int.h"
#include "base/vx_assert.h"

namespace net {

QR_BaseNet::QR_BaseNet(Writer writer, ErrorSink errors, bool withCipher)
    : m_writer(std::move(writer)),
      m_errors(std::move(errors)),
      m_pCipher(withCipher ? new ConnectionCipher : nullptr),
      m_cutter([this](uint16_t type, const uint8_t* body, uint16_t length) { Dispatch(type, body, length); }) {}

void QR_BaseNet::RegisterPduHandler(QR_PduHandler* lpHandler) {
  for (size_t i = 0; i < m_arrayPduHandler.GetSize(); ++i)
    VX_ASSERT(m_arrayPduHandler.GetAt(i) != lpHandler);
  m_arrayPduHandler.Add(lpHandler);
}

int QR_BaseNet::SendPdu(uint16_t type, const uint8_t* body, size_t length, uint16_t flags) {
  if (m_hook) flags = m_hook(type, flags);
  std::vector<uint8_t> wire;
  if (!EncodePdu(type, body, length, flags, m_pCipher.get(), wire)) return -1;
  return m_writer && m_writer(wire.data(), wire.size()) ? 0 : -1;
}

void QR_BaseNet::Dispatch(uint16_t type, const uint8_t* body, uint16_t length) {
  std::vector<uint8_t> inner;
  if (type == kWrapperType) {
    bool dropped = false;
    if (DecodeWrapper(body, length, m_pCipher.get(), inner, dropped) != 0) {
      if (m_errors) m_errors(kErrorWrapper, "Error PDU_QR_ENCRYPT_DATA");
      return;
    }
    if (dropped) return;
    type = vx::ReadLE16(inner.data());
    length = vx::ReadLE16(inner.data() + 2);
    body = inner.data() + kPduHeaderSize;
  }
  for (size_t i = 0; i < m_arrayPduHandler.GetSize(); ++i) m_arrayPduHandler.GetAt(i)->OnPdu(type, length, body);
}

bool QR_BaseNet::OnStreamData(const uint8_t* data, size_t size) {
  if (m_cutter.Feed(data, size)) return true;
  if (m_errors) m_errors(kErrorPostReceive, "Recv PostReceive_0");
  return false;
}

void QR_BaseNet::OnDatagram(const uint8_t* data, size_t size) {
  std::vector<uint8_t> pdu;
  if (!UnscrambleDatagram(data, size, pdu) || pdu.size() < kPduHeaderSize) return;
  // A datagram holds one PDU; bytes beyond its stated length are ignored.
  const size_t total = kPduHeaderSize + vx::ReadLE16(&pdu[2]);
  if (total > pdu.size()) return;
  Dispatch(vx::ReadLE16(pdu.data()), pdu.data() + kPduHeaderSize, vx::ReadLE16(&pdu[2]));
}

void QR_BaseNet::OnTimerEvent(uint32_t event) { VX_ASSERT(event >= TE_BASE); }

}  // namespace net
