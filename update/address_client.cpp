#include "update/address_client.h"

#include <chrono>

#include "base/utf16.h"
#include "update/address_messages.h"
#include "update/update_install.h"

namespace update {

using Clock = std::chrono::steady_clock;

AddressServerClient::AddressServerClient(AddressServerSink& sink) : m_sink(sink) { m_net.SetSink(this); }

AddressServerClient::~AddressServerClient() {
  {
    std::lock_guard<std::mutex> g(m_lock);
    m_stopping = true;
    m_changed.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
  m_net.SetSink(nullptr);
  m_net.CloseAll();
}

void AddressServerClient::Start(std::vector<std::pair<std::string, uint16_t>> servers, int32_t productNumber,
                                unsigned queryMs, unsigned pauseMs) {
  if (m_thread.joinable()) return;  // one query per client
  m_servers = std::move(servers);
  m_productNumber = productNumber;
  m_queryMs = queryMs;
  m_pauseMs = pauseMs;
  m_thread = std::thread([this] { Run(); });
}

void AddressServerClient::Run() {
  const auto deadline = Clock::now() + std::chrono::milliseconds(m_queryMs);
  std::unique_lock<std::mutex> g(m_lock);
  auto attemptEnds = Clock::time_point::max();
  for (;;) {
    if (m_stopping) return;
    if (m_answered) break;
    const auto now = Clock::now();
    if (now >= deadline) break;
    if (!m_attemptOver && now >= attemptEnds) Failed(m_conn, 10060);  // accepted, never answered
    if (m_attemptOver) {
      if (m_next == m_servers.size()) break;
      if (m_next > 0 &&
          m_changed.wait_for(g, std::chrono::milliseconds(m_pauseMs), [&] { return m_stopping; }))
        return;
      const auto [address, port] = m_servers[m_next++];
      m_attemptOver = false;
      attemptEnds = Clock::now() + std::chrono::milliseconds(kAnswerMs);
      const int h = m_net.CreateConnection(address, port);
      m_conn = h;
      m_codec = std::make_unique<net::QR_BaseNet>(FramesTo(m_net, h), [](int, const char*) {});
      m_codec->RegisterPduHandler(this);
      g.unlock();
      const bool started = h >= 0 && m_net.Connect(h, address, port);
      g.lock();
      if (!started) Failed(h, 10049);
      continue;
    }
    m_changed.wait_until(g, std::min(deadline, attemptEnds));
  }
  const bool answered = m_answered;
  const int result = m_result, error = m_lastError ? m_lastError : 10060;
  const std::vector<std::string> addresses = m_addresses;
  const int conn = m_conn;
  g.unlock();
  if (conn >= 0) m_net.Close(conn);
  if (answered) m_sink.OnGetUpgrateServerAddress(result, addresses);
  else m_sink.OnConnectError(error);
}

// Under the lock.
void AddressServerClient::Failed(int hConn, int error) {
  if (hConn != m_conn || m_attemptOver) return;
  m_attemptOver = true;
  m_lastError = error;
  if (hConn >= 0) m_net.Close(hConn);
  m_changed.notify_all();
}

void AddressServerClient::OnConnect(int error, int hConn) {
  std::lock_guard<std::mutex> g(m_lock);
  if (hConn != m_conn || m_attemptOver) return;
  if (error) {
    Failed(hConn, error);
    return;
  }
  GetUpdateServersRequest request;
  request.productNumber = m_productNumber;
  const std::vector<uint8_t> body = Encode(request);
  if (m_codec->SendPdu(uint16_t(QR_AS_GETUPDATESERVERS), body.data(), body.size(), 0) != 0) Failed(hConn, 10054);
}

void AddressServerClient::OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) {
  std::lock_guard<std::mutex> g(m_lock);
  if (hConn != m_conn || m_attemptOver) return;
  if (error) {  // closed before an answer
    Failed(hConn, 10061);
    return;
  }
  // The manager cut the PDU; the codec unwraps it and calls back below.
  std::vector<uint8_t> frame;
  if (!net::FramePdu(type, body, length, frame) || !m_codec->OnStreamData(frame.data(), frame.size()))
    Failed(hConn, 10054);
}

// Under the lock (from OnStreamData above).
void AddressServerClient::OnPdu(uint16_t type, uint16_t length, const uint8_t* body) {
  GetUpdateServersResponse answer;
  if (type != QR_AS_GETUPDATESERVERS || !Decode(body, length, answer)) return;  // not an answer: dropped
  m_answered = true;
  m_result = answer.result;
  m_addresses.clear();
  for (const ServerEntry& e : ParseServerList(answer.servers)) {
    if (m_addresses.size() == kMaxAnsweredServers) break;
    m_addresses.push_back(e.address + ":" + std::to_string(e.port));
  }
  if (m_result == SUCCESSED && m_addresses.empty()) m_result = NOSRVCANUSED;
  m_changed.notify_all();
}

}  // namespace update
