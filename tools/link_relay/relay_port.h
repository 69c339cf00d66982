#pragma once
// One listen port of the relay: its rule (changeable while running), its
// acceptor, the links open through it and its counts.
#include <cstdint>
#include <list>
#include <memory>

#include <asio.hpp>

#include "tools/link_relay/relay_options.h"

namespace link_relay {

class RelayLink;

struct RelayPort {
  PortRule rule;
  asio::ip::tcp::endpoint listenAt, target;
  asio::ip::tcp::acceptor acceptor;
  std::list<std::weak_ptr<RelayLink>> links;
  uint64_t accepted = 0, refused = 0, failed = 0, cut = 0, bytesUp = 0, bytesDown = 0;

  explicit RelayPort(asio::io_context& io) : acceptor(io) {}
};

}  // namespace link_relay
