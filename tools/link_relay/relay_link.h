#pragma once
// One connection through the relay: the client's socket and the target's,
// joined by a delayed, rate-capped pipe each way. An end of stream is passed
// on after the data before it; an error on either side closes both.
#include <array>
#include <memory>

#include <asio.hpp>

#include "tools/link_relay/delayed_pipe.h"
#include "tools/link_relay/relay_port.h"

namespace link_relay {

class RelayLink : public std::enable_shared_from_this<RelayLink> {
 public:
  RelayLink(std::shared_ptr<RelayPort> port, asio::ip::tcp::socket client);
  // Connects to the target, then relays; a failed connect closes the client.
  void Start();
  void Close();

 private:
  struct Direction {
    Direction(asio::ip::tcp::socket& from, asio::ip::tcp::socket& to, uint64_t& counter, asio::any_io_executor ex)
        : from(from), to(to), counter(counter), timer(ex) {}
    asio::ip::tcp::socket& from;
    asio::ip::tcp::socket& to;
    uint64_t& counter;
    DelayedPipe pipe;
    asio::steady_timer timer;
    bool reading = false, writing = false, waiting = false, ended = false, finished = false;
    std::array<uint8_t, DelayedPipe::kMaxWrite> buffer{};
  };
  void Read(Direction& d);
  void Pump(Direction& d);

  std::shared_ptr<RelayPort> m_port;
  asio::ip::tcp::socket m_client, m_target;
  Direction m_up, m_down;
  bool m_closed = false;
};

}  // namespace link_relay
