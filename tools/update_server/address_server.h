#pragma once
// The address server: answers the address-server query of packages in
// address-server mode with the update servers that are alive, the quickest
// to answer first (a loaded server answers later). Every few seconds it asks
// each update server for its version; one that does not answer is left out
// until it answers again.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/update_net_manager.h"

namespace update_server {

struct AddressServerOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 0;  // 0: any free one
  std::vector<std::pair<std::string, uint16_t>> servers;  // update servers' control ports
  std::chrono::milliseconds probeEvery{3000};
  std::chrono::milliseconds probeTimeout{2000};
  std::function<void(const std::string&)> log;
};

class AddressServer : private update::UpdateNetSink {
 public:
  AddressServer() = default;
  ~AddressServer() override;
  AddressServer(const AddressServer&) = delete;
  AddressServer& operator=(const AddressServer&) = delete;

  // Probes the servers once, then listens. False with `error`.
  bool Start(const AddressServerOptions& options, std::string& error);
  void Stop();
  uint16_t Port() const { return m_port; }
  // What a query is answered now: "address:port" items, quickest first.
  std::vector<std::string> Alive();

 private:
  void OnConnect(int, int) override {}
  void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) override;
  void ProbeAll();
  void Prober();

  AddressServerOptions m_options;
  uint16_t m_port = 0;
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_stopping = false;
  std::vector<std::chrono::microseconds> m_roundTrips;  // per server; negative: not answering
  std::thread m_prober;
  std::unique_ptr<update::UpdateNetManager> m_net;
};

}  // namespace update_server
