#pragma once
// The address-server client: asks the address servers of a package in
// address-server mode, in order, which update servers to use. Each is tried
// once, a pause apart; the first answer ends the query. The outcome reaches
// the sink on the client's own thread: the answer's result and servers
// ("address:port" texts), or a connect error when no address server
// answered within the query's time.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/qr_base_net.h"
#include "update/frames_to_connection.h"
#include "update/update_net_manager.h"

namespace update {

class AddressServerSink {
 public:
  virtual ~AddressServerSink() = default;
  virtual void OnGetUpgrateServerAddress(int result, const std::vector<std::string>& addresses) = 0;
  virtual void OnConnectError(int error) = 0;
};

class AddressServerClient : private UpdateNetSink, private net::QR_PduHandler {
 public:
  static constexpr unsigned kQueryMs = 90000, kPauseMs = 1000;
  // An address server that accepted gets this long to answer.
  static constexpr unsigned kAnswerMs = 10000;

  explicit AddressServerClient(AddressServerSink& sink);
  ~AddressServerClient() override;  // stops; no call to the sink after it
  AddressServerClient(const AddressServerClient&) = delete;
  AddressServerClient& operator=(const AddressServerClient&) = delete;

  // Starts a query of `servers` (address, port) for `productNumber`.
  void Start(std::vector<std::pair<std::string, uint16_t>> servers, int32_t productNumber,
             unsigned queryMs = kQueryMs, unsigned pauseMs = kPauseMs);

 private:
  void OnConnect(int error, int hConn) override;
  void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) override;
  void OnPdu(uint16_t type, uint16_t length, const uint8_t* body) override;  // unwrapped
  void Run();
  void Failed(int hConn, int error);

  AddressServerSink& m_sink;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<std::pair<std::string, uint16_t>> m_servers;
  int32_t m_productNumber = 0;
  unsigned m_queryMs = kQueryMs, m_pauseMs = kPauseMs;
  size_t m_next = 0;
  int m_conn = -1;
  int m_lastError = 0;
  bool m_attemptOver = true;  // the current server failed or none is tried
  bool m_answered = false, m_stopping = false;
  int m_result = 0;
  std::vector<std::string> m_addresses;
  std::unique_ptr<net::QR_BaseNet> m_codec;  // the current connection's
  std::thread m_thread;
  UpdateNetManager m_net;  // last: stopped first
};

}  // namespace update
