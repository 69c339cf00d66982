#pragma once
// A TCP relay that degrades the link: forwards listen ports to target ports
// with a one-way delay, a rate cap, refused or dropped ports and cuts of the
// open connections, changeable while it runs through control commands.
// Everything runs on the io_context's one thread.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <asio.hpp>

#include "tools/link_relay/relay_options.h"
#include "tools/link_relay/relay_port.h"

namespace link_relay {

class ControlSession;

class LinkRelay {
 public:
  LinkRelay(asio::io_context& io, RelayOptions options);
  ~LinkRelay();

  // Binds every port not dropped (a dropped port 0 is given a free port all
  // the same), the control port and the timed cuts. False with `error` set.
  bool Start(std::string& error);
  // "relaying 127.0.0.2:7001 -> 127.0.0.1:7001, ...[; control 127.0.0.1:P]"
  std::string ListeningLine() const;
  uint16_t ListenPort(size_t index) const { return m_ports[index]->listenAt.port(); }
  uint16_t ControlPort() const { return m_controlPort; }

  // Runs one control line; the reply's last line is "ok" or "error: ...".
  std::string Command(const std::string& line);
  // Closes listeners and every connection; the io_context then runs out.
  void Stop();

 private:
  bool Listen(RelayPort& port, std::string& error);
  void Accept(const std::shared_ptr<RelayPort>& port);
  void CutPort(RelayPort& port);
  void AcceptControl();
  std::vector<RelayPort*> Select(uint16_t port, std::string& error);

  asio::io_context& m_io;
  RelayOptions m_options;
  std::vector<std::shared_ptr<RelayPort>> m_ports;
  std::vector<std::unique_ptr<asio::steady_timer>> m_cutTimers;
  asio::ip::tcp::acceptor m_control;
  std::list<std::weak_ptr<ControlSession>> m_controlSessions;
  uint16_t m_controlPort = 0;
  bool m_stopped = false;
};

}  // namespace link_relay
