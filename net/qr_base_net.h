#pragma once
// QR_BaseNet: one connection of the maker's PDU layer. It frames outgoing
// PDUs (wrapper when compressed or encrypted), cuts and unwraps incoming
// stream data and datagrams, and hands every PDU to its registered handlers.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "net/pdu_frame.h"
#include "net/qr_base_net_codec.h"

namespace net {

class QR_PduHandler {
 public:
  virtual ~QR_PduHandler() = default;
  virtual void OnPdu(uint16_t type, uint16_t length, const uint8_t* body) = 0;
};

// A small pointer array with the maker's accessors.
template <class T>
class VX_PtrArray {
 public:
  size_t GetSize() const { return m_items.size(); }
  T* GetAt(size_t i) const { return m_items[i]; }
  void Add(T* item) { m_items.push_back(item); }

 private:
  std::vector<T*> m_items;
};

constexpr uint32_t TE_BASE = 0x1000;  // timer events below this belong to the library

class QR_BaseNet {
 public:
  // Sends bytes on the connection; false when they cannot be handed over.
  using Writer = std::function<bool(const uint8_t* data, size_t size)>;
  // Errors for the owner: -3 (receive), -4 ("Error PDU_QR_ENCRYPT_DATA").
  using ErrorSink = std::function<void(int error, const char* text)>;
  // The owner's hook that may adjust the flags of an outgoing PDU.
  using FlagsHook = std::function<uint16_t(uint16_t type, uint16_t flags)>;

  QR_BaseNet(Writer writer, ErrorSink errors, bool withCipher = true);

  void RegisterPduHandler(QR_PduHandler* lpHandler);  // once per handler
  void SetFlagsHook(FlagsHook hook) { m_hook = std::move(hook); }
  ConnectionCipher* Cipher() { return m_pCipher.get(); }

  // 0 when sent, -1 when it cannot be framed, encrypted or handed over.
  int SendPdu(uint16_t type, const uint8_t* body, size_t length, uint16_t flags);

  // Stream data in arbitrary pieces. False once the stream is broken.
  bool OnStreamData(const uint8_t* data, size_t size);
  // One datagram.
  void OnDatagram(const uint8_t* data, size_t size);

  // Timer events are the owner's from TE_BASE on.
  void OnTimerEvent(uint32_t event);

 private:
  void Dispatch(uint16_t type, const uint8_t* body, uint16_t length);

  Writer m_writer;
  ErrorSink m_errors;
  FlagsHook m_hook;
  std::unique_ptr<ConnectionCipher> m_pCipher;
  VX_PtrArray<QR_PduHandler> m_arrayPduHandler;
  PduCutter m_cutter;
};

}  // namespace net
