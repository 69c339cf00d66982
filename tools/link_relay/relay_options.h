#pragma once
// The relay's command line and its control commands, as plain data.
#include <cstdint>
#include <string>
#include <vector>

namespace link_relay {

// What a listen port does with a connection.
enum class PortMode { Pass, Refuse, Drop };
const char* ModeName(PortMode mode);

struct PortRule {
  uint16_t listen = 0;  // 0: a free port, chosen when listening starts
  uint16_t target = 0;
  int64_t delayMs = 0;  // one way; applied in both directions
  uint64_t rate = 0;    // bytes/s per connection and direction, 0 = none
  PortMode mode = PortMode::Pass;
};

// A cut of every open connection through `port` (0: all ports), `afterMs`
// after the relay started.
struct TimedCut {
  int64_t afterMs = 0;
  uint16_t port = 0;
};

struct RelayOptions {
  std::string listenAddress = "127.0.0.2";
  std::string targetAddress = "127.0.0.1";
  std::vector<PortRule> ports;
  std::vector<TimedCut> cuts;
  bool control = false;  // a control port on 127.0.0.1
  uint16_t controlPort = 0;
};

// Parses the arguments after the program name; false with `error` set on a
// usage error. "--help" sets `help` and returns true.
bool ParseRelayArguments(const std::vector<std::string>& args, RelayOptions& options, bool& help,
                         std::string& error);

// A duration: "250ms", "3s", "1.5s".
bool ParseDurationMs(const std::string& text, int64_t& ms);

// One control line: "cut [PORT]", "refuse PORT", "drop PORT", "pass PORT",
// "delay MS [PORT]", "rate BPS [PORT]", "stats". Port 0: every port.
struct ControlCommand {
  enum Kind { Cut, Refuse, Drop, Pass, Delay, Rate, Stats } kind = Stats;
  uint64_t value = 0;
  uint16_t port = 0;
};
bool ParseControlCommand(const std::string& line, ControlCommand& command, std::string& error);

}  // namespace link_relay
