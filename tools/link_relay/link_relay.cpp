#include "tools/link_relay/link_relay.h"

#include <sstream>

#include "tools/link_relay/control_session.h"
#include "tools/link_relay/relay_link.h"

namespace link_relay {

using asio::ip::tcp;

namespace {

std::string Text(const tcp::endpoint& at) { return at.address().to_string() + ":" + std::to_string(at.port()); }

// Drops the links that have ended.
void Prune(RelayPort& port) {
  port.links.remove_if([](const std::weak_ptr<RelayLink>& link) { return link.expired(); });
}

}  // namespace

LinkRelay::LinkRelay(asio::io_context& io, RelayOptions options)
    : m_io(io), m_options(std::move(options)), m_control(io) {}

LinkRelay::~LinkRelay() { Stop(); }

bool LinkRelay::Listen(RelayPort& port, std::string& error) {
  asio::error_code ec;
  port.acceptor.open(port.listenAt.protocol(), ec);
  if (!ec) port.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) port.acceptor.bind(port.listenAt, ec);
  if (!ec) port.acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (!ec) port.listenAt = port.acceptor.local_endpoint(ec);
  if (ec) {
    asio::error_code ignored;
    port.acceptor.close(ignored);
    error = "cannot listen on " + Text(port.listenAt) + ": " + ec.message();
    return false;
  }
  return true;
}

bool LinkRelay::Start(std::string& error) {
  asio::error_code ec;
  const auto listenAddress = asio::ip::make_address(m_options.listenAddress, ec);
  if (ec) {
    error = "bad listen address \"" + m_options.listenAddress + "\"";
    return false;
  }
  const auto targetAddress = asio::ip::make_address(m_options.targetAddress, ec);
  if (ec) {
    error = "bad target address \"" + m_options.targetAddress + "\"";
    return false;
  }
  for (const PortRule& rule : m_options.ports) {
    auto port = std::make_shared<RelayPort>(m_io);
    port->rule = rule;
    port->listenAt = tcp::endpoint(listenAddress, rule.listen);
    port->target = tcp::endpoint(targetAddress, rule.target);
    m_ports.push_back(port);
    if (!Listen(*port, error)) return false;
    if (rule.mode == PortMode::Drop) {
      port->acceptor.close(ec);
    } else {
      Accept(port);
    }
  }
  if (m_options.control) {
    const tcp::endpoint at(asio::ip::address_v4::loopback(), m_options.controlPort);
    m_control.open(at.protocol(), ec);
    if (!ec) m_control.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) m_control.bind(at, ec);
    if (!ec) m_control.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      error = "cannot listen on " + Text(at) + ": " + ec.message();
      return false;
    }
    m_controlPort = m_control.local_endpoint().port();
    AcceptControl();
  }
  for (const TimedCut& cut : m_options.cuts) {
    auto timer = std::make_unique<asio::steady_timer>(m_io, std::chrono::milliseconds(cut.afterMs));
    timer->async_wait([this, cut](const asio::error_code& error) {
      if (error || m_stopped) return;
      for (auto& port : m_ports)
        if (cut.port == 0 || port->rule.listen == cut.port || port->listenAt.port() == cut.port) CutPort(*port);
    });
    m_cutTimers.push_back(std::move(timer));
  }
  return true;
}

std::string LinkRelay::ListeningLine() const {
  std::string line = "relaying ";
  for (size_t i = 0; i < m_ports.size(); ++i) {
    const RelayPort& port = *m_ports[i];
    line += (i ? ", " : "") + Text(port.listenAt) + " -> " + Text(port.target);
    if (port.rule.mode != PortMode::Pass) line += std::string(" (") + ModeName(port.rule.mode) + ")";
  }
  if (m_control.is_open()) line += "; control 127.0.0.1:" + std::to_string(m_controlPort);
  return line;
}

void LinkRelay::Accept(const std::shared_ptr<RelayPort>& port) {
  port->acceptor.async_accept([this, port](const asio::error_code& error, tcp::socket client) {
    // Aborted: the port was dropped (and may listen again by now, with an
    // accept of its own).
    if (m_stopped || error == asio::error::operation_aborted || !port->acceptor.is_open()) return;
    if (error) {
      // Out of descriptors and the like: try again a little later.
      auto pause = std::make_shared<asio::steady_timer>(m_io, std::chrono::milliseconds(100));
      pause->async_wait([this, port, pause](const asio::error_code&) {
        if (!m_stopped && port->acceptor.is_open()) Accept(port);
      });
      return;
    }
    Prune(*port);
    if (port->rule.mode == PortMode::Refuse) {
      ++port->refused;
      asio::error_code ignored;
      client.close(ignored);
    } else {
      ++port->accepted;
      auto link = std::make_shared<RelayLink>(port, std::move(client));
      port->links.push_back(link);
      link->Start();
    }
    Accept(port);
  });
}

void LinkRelay::CutPort(RelayPort& port) {
  for (auto& weak : port.links) {
    if (auto link = weak.lock()) {
      link->Close();
      ++port.cut;
    }
  }
  port.links.clear();
}

std::vector<RelayPort*> LinkRelay::Select(uint16_t number, std::string& error) {
  std::vector<RelayPort*> ports;
  for (auto& port : m_ports)
    if (number == 0 || port->listenAt.port() == number) ports.push_back(port.get());
  if (ports.empty()) error = "no listen port " + std::to_string(number);
  return ports;
}

std::string LinkRelay::Command(const std::string& line) {
  ControlCommand command;
  std::string error;
  if (!ParseControlCommand(line, command, error)) return "error: " + error + "\n";
  const std::vector<RelayPort*> ports = Select(command.port, error);
  if (ports.empty()) return "error: " + error + "\n";
  std::ostringstream reply;
  for (RelayPort* port : ports) {
    switch (command.kind) {
      case ControlCommand::Cut:
        CutPort(*port);
        break;
      case ControlCommand::Delay:
        port->rule.delayMs = int64_t(command.value);
        break;
      case ControlCommand::Rate:
        port->rule.rate = command.value;
        break;
      case ControlCommand::Refuse:
      case ControlCommand::Pass:
      case ControlCommand::Drop: {
        const PortMode mode = command.kind == ControlCommand::Refuse ? PortMode::Refuse
                              : command.kind == ControlCommand::Pass ? PortMode::Pass
                                                                     : PortMode::Drop;
        asio::error_code ignored;
        if (mode == PortMode::Drop) {
          port->acceptor.close(ignored);
        } else if (!port->acceptor.is_open()) {
          if (!Listen(*port, error)) return "error: " + error + "\n";
          for (auto& shared : m_ports)
            if (shared.get() == port) Accept(shared);
        }
        port->rule.mode = mode;
        break;
      }
      case ControlCommand::Stats:
        Prune(*port);
        reply << port->listenAt.port() << ": " << ModeName(port->rule.mode) << ", delay " << port->rule.delayMs
              << " ms, rate " << port->rule.rate << " B/s, accepted " << port->accepted << ", refused "
              << port->refused << ", target failed " << port->failed << ", open " << port->links.size()
              << ", up " << port->bytesUp << " B, down " << port->bytesDown << " B, cut " << port->cut << "\n";
        break;
    }
  }
  reply << "ok\n";
  return reply.str();
}

void LinkRelay::AcceptControl() {
  m_control.async_accept([this](const asio::error_code& error, tcp::socket socket) {
    if (m_stopped || error == asio::error::operation_aborted || !m_control.is_open()) return;
    if (error) {
      auto pause = std::make_shared<asio::steady_timer>(m_io, std::chrono::milliseconds(100));
      pause->async_wait([this, pause](const asio::error_code&) {
        if (!m_stopped) AcceptControl();
      });
      return;
    }
    auto session = std::make_shared<ControlSession>(std::move(socket), [this](const std::string& line) {
      return m_stopped ? std::string() : Command(line);
    });
    m_controlSessions.remove_if([](const std::weak_ptr<ControlSession>& s) { return s.expired(); });
    m_controlSessions.push_back(session);
    session->Start();
    AcceptControl();
  });
}

void LinkRelay::Stop() {
  if (m_stopped) return;
  m_stopped = true;
  asio::error_code ignored;
  for (auto& timer : m_cutTimers) timer->cancel();
  m_control.close(ignored);
  for (auto& weak : m_controlSessions)
    if (auto session = weak.lock()) session->Close();
  for (auto& port : m_ports) {
    port->acceptor.close(ignored);
    for (auto& weak : port->links)
      if (auto link = weak.lock()) link->Close();
  }
}

}  // namespace link_relay
