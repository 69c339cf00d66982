#include "tools/update_server/address_server.h"

#include <algorithm>
#include <numeric>

#include "base/utf16.h"
#include "net/qr_base_net.h"
#include "tools/update_server/update_server.h"
#include "update/address_messages.h"
#include "update/frames_to_connection.h"

namespace update_server {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::microseconds kDown{-1};

// One round of version requests to every server, side by side.
class Probe : public update::UpdateNetSink {
 public:
  explicit Probe(size_t count) : m_started(count), m_took(count, kDown) { m_net.SetSink(this); }
  ~Probe() override {
    m_net.SetSink(nullptr);
    m_net.CloseAll();
  }
  void Ask(size_t index, const std::string& address, uint16_t port) {
    const int h = m_net.CreateConnection(address, port);
    std::lock_guard<std::mutex> g(m_lock);
    if (h < 0) return;
    m_index[h] = index;
    m_started[index] = Clock::now();
    if (!m_net.Connect(h, address, port)) m_index.erase(h);
  }
  // The round trips once all answered or the time is up.
  std::vector<std::chrono::microseconds> Wait(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> g(m_lock);
    m_changed.wait_for(g, limit, [&] { return m_answers == m_index.size(); });
    return m_took;
  }

 private:
  void OnConnect(int error, int h) override {
    std::lock_guard<std::mutex> g(m_lock);
    if (error || !m_index.count(h)) return;
    update::GetVersionInfoExRequest request;
    m_net.SendBody(h, uint16_t(request.kType), update::Encode(request));
  }
  void OnPdu(int error, int h, uint16_t type, const uint8_t* body, uint16_t length) override {
    std::lock_guard<std::mutex> g(m_lock);
    auto it = m_index.find(h);
    if (error || it == m_index.end() || m_took[it->second] != kDown) return;
    update::GetVersionInfoResponse r;
    if (type != update::QR_UDT_GETVERSIONINFO || !update::Decode(body, length, r) || r.result != update::SUCCESSED)
      return;
    m_took[it->second] = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_started[it->second]);
    ++m_answers;
    m_changed.notify_all();
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::map<int, size_t> m_index;
  std::vector<Clock::time_point> m_started;
  std::vector<std::chrono::microseconds> m_took;
  size_t m_answers = 0;
  update::UpdateNetManager m_net;  // last: stopped first
};

}  // namespace

AddressServer::~AddressServer() { Stop(); }

bool AddressServer::Start(const AddressServerOptions& options, std::string& error) {
  if (options.servers.empty()) {
    error = "no update servers to answer with";
    return false;
  }
  m_options = options;
  m_roundTrips.assign(options.servers.size(), kDown);
  ProbeAll();
  m_net = std::make_unique<update::UpdateNetManager>();
  m_net->SetLimits(ServerOptions::ControlLimits());
  m_net->SetSink(this);
  m_port = options.port;
  if (!m_net->Listen(options.address, m_port)) {
    error = "cannot listen on " + options.address + ":" + std::to_string(options.port);
    m_net.reset();
    return false;
  }
  m_prober = std::thread([this] { Prober(); });
  return true;
}

void AddressServer::Stop() {
  {
    std::lock_guard<std::mutex> g(m_lock);
    m_stopping = true;
    m_wake.notify_all();
  }
  if (m_prober.joinable()) m_prober.join();
  if (m_net) {
    m_net->SetSink(nullptr);
    m_net->CloseAll();
    m_net.reset();
  }
}

void AddressServer::ProbeAll() {
  Probe probe(m_options.servers.size());
  for (size_t i = 0; i < m_options.servers.size(); ++i)
    probe.Ask(i, m_options.servers[i].first, m_options.servers[i].second);
  const auto took = probe.Wait(m_options.probeTimeout);
  std::lock_guard<std::mutex> g(m_lock);
  for (size_t i = 0; i < took.size(); ++i) {
    if ((took[i] == kDown) != (m_roundTrips[i] == kDown) && m_options.log)
      m_options.log(m_options.servers[i].first + ":" + std::to_string(m_options.servers[i].second) +
                    (took[i] == kDown ? " does not answer: left out" : " answers"));
    m_roundTrips[i] = took[i];
  }
}

void AddressServer::Prober() {
  std::unique_lock<std::mutex> g(m_lock);
  while (!m_wake.wait_for(g, m_options.probeEvery, [&] { return m_stopping; })) {
    g.unlock();
    ProbeAll();
    g.lock();
  }
}

std::vector<std::string> AddressServer::Alive() {
  std::lock_guard<std::mutex> g(m_lock);
  std::vector<size_t> order(m_roundTrips.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return m_roundTrips[a] < m_roundTrips[b]; });
  std::vector<std::string> alive;
  for (size_t i : order)
    if (m_roundTrips[i] != kDown)
      alive.push_back(m_options.servers[i].first + ":" + std::to_string(m_options.servers[i].second));
  return alive;
}

void AddressServer::OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) {
  if (error) return;
  update::UpdateNetManager* net = m_net.get();
  if (!net) return;
  update::GetUpdateServersRequest request;
  if (type != update::QR_AS_GETUPDATESERVERS || !update::Decode(body, length, request)) {
    net->Close(hConn);  // anything else ends the connection
    return;
  }
  update::GetUpdateServersResponse answer;
  std::string joined;
  for (const std::string& s : Alive()) {
    if (joined.size() + s.size() + 1 > 16000) break;
    joined += (joined.empty() ? "" : ",") + s;
  }
  answer.result = joined.empty() ? update::NOSRVCANUSED : update::SUCCESSED;
  answer.servers = vx::Utf8ToUtf16(joined);
  // Through QR_BaseNet, compressed and encrypted when it is long enough to gain.
  net::QR_BaseNet codec(update::FramesTo(*net, hConn), [](int, const char*) {});
  const std::vector<uint8_t> bytes = update::Encode(answer);
  codec.SendPdu(uint16_t(update::QR_AS_GETUPDATESERVERS), bytes.data(), bytes.size(),
                net::kFlagEncrypted | net::kFlagCompressed);
  net->CloseWhenSent(hConn);
  if (m_options.log)
    m_options.log(net->PeerAddress(hConn) + " asked for product " + std::to_string(request.productNumber) + ": " +
                  (joined.empty() ? "none alive" : joined));
}

}  // namespace update_server
