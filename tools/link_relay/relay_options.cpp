#include "tools/link_relay/relay_options.h"

#include <cstdlib>
#include <sstream>

namespace link_relay {

namespace {

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19) return false;
  value = std::strtoull(text.c_str(), nullptr, 10);
  return value <= max;
}

bool ParsePort(const std::string& text, uint16_t& port) {
  uint64_t value = 0;
  if (!ParseNumber(text, 65535, value)) return false;
  port = uint16_t(value);
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.push_back("");
  return parts;
}

// "VALUE" or "PORT=VALUE": the port (0 when absent) and the value text.
void SplitPortValue(const std::string& text, std::string& port, std::string& value) {
  const size_t eq = text.find('=');
  port = eq == std::string::npos ? "0" : text.substr(0, eq);
  value = eq == std::string::npos ? text : text.substr(eq + 1);
}

// The rules a per-port option applies to: every rule for port 0, else the
// rule listening on `port`.
bool ForPort(RelayOptions& options, const std::string& portText, const std::string& option,
             std::vector<PortRule*>& rules, std::string& error) {
  uint16_t port = 0;
  rules.clear();
  if (!ParsePort(portText, port)) {
    error = option + ": bad port \"" + portText + "\"";
    return false;
  }
  for (PortRule& rule : options.ports)
    if (port == 0 || rule.listen == port) rules.push_back(&rule);
  if (rules.empty()) error = option + ": no listen port " + portText;
  return !rules.empty();
}

}  // namespace

const char* ModeName(PortMode mode) {
  switch (mode) {
    case PortMode::Pass: return "pass";
    case PortMode::Refuse: return "refuse";
    case PortMode::Drop: return "drop";
  }
  return "?";
}

bool ParseDurationMs(const std::string& text, int64_t& ms) {
  double scale = 0;
  std::string number;
  if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
    scale = 1;
    number = text.substr(0, text.size() - 2);
  } else if (text.size() > 1 && text.back() == 's') {
    scale = 1000;
    number = text.substr(0, text.size() - 1);
  } else {
    return false;
  }
  if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (*end || value * scale > 1e12) return false;
  ms = int64_t(value * scale + 0.5);
  return true;
}

bool ParseRelayArguments(const std::vector<std::string>& args, RelayOptions& options, bool& help,
                         std::string& error) {
  help = false;
  // The port list first: the per-port options name its listen ports.
  bool havePorts = false;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] != "--ports") continue;
    for (const std::string& item : Split(args[i + 1], ',')) {
      const std::vector<std::string> pair = Split(item, ':');
      PortRule rule;
      if (pair.empty() || pair.size() > 2 || !ParsePort(pair[0], rule.listen) ||
          !ParsePort(pair.size() == 2 ? pair[1] : pair[0], rule.target) || rule.target == 0) {
        error = "--ports: bad entry \"" + item + "\" (PORT or LISTENPORT:TARGETPORT)";
        return false;
      }
      options.ports.push_back(rule);
    }
    havePorts = true;
  }
  std::vector<PortRule*> rules;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
      return true;
    }
    if (i + 1 >= args.size()) {
      error = arg.rfind("--", 0) == 0 ? arg + " takes a value" : "unknown argument \"" + arg + "\"";
      return false;
    }
    const std::string& value = args[++i];
    std::string port, text;
    SplitPortValue(value, port, text);
    uint64_t number = 0;
    if (arg == "--ports") {
    } else if (arg == "--listen") {
      options.listenAddress = value;
    } else if (arg == "--target") {
      options.targetAddress = value;
    } else if (arg == "--control") {
      if (!ParsePort(value, options.controlPort)) {
        error = "--control takes a port number";
        return false;
      }
      options.control = true;
    } else if (arg == "--delay" || arg == "--rate") {
      if (!ParseNumber(text, arg == "--delay" ? 3600000 : UINT64_MAX / 2, number)) {
        error = arg + ": bad value \"" + value + "\"";
        return false;
      }
      if (!ForPort(options, port, arg, rules, error)) return false;
      for (PortRule* rule : rules) {
        if (arg == "--delay") rule->delayMs = int64_t(number);
        else rule->rate = number;
      }
    } else if (arg == "--refuse" || arg == "--drop") {
      if (!ForPort(options, value, arg, rules, error)) return false;
      for (PortRule* rule : rules) rule->mode = arg == "--refuse" ? PortMode::Refuse : PortMode::Drop;
    } else if (arg == "--cut-after") {
      TimedCut cut;
      if (!ParseDurationMs(text, cut.afterMs) || !ParsePort(port, cut.port)) {
        error = "--cut-after: bad value \"" + value + "\" (e.g. 3s, 500ms, PORT=3s)";
        return false;
      }
      if (cut.port && !ForPort(options, port, arg, rules, error)) return false;
      options.cuts.push_back(cut);
    } else {
      error = "unknown argument \"" + arg + "\"";
      return false;
    }
  }
  if (!havePorts || options.ports.empty()) {
    error = "--ports is required";
    return false;
  }
  return true;
}

bool ParseControlCommand(const std::string& line, ControlCommand& command, std::string& error) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  command = ControlCommand();
  if (words.empty()) {
    error = "empty command";
    return false;
  }
  struct Verb {
    const char* name;
    ControlCommand::Kind kind;
    bool value;  // takes a value before the port
    bool port;   // takes a port
  };
  static const Verb kVerbs[] = {
      {"cut", ControlCommand::Cut, false, true},     {"refuse", ControlCommand::Refuse, false, true},
      {"drop", ControlCommand::Drop, false, true},   {"pass", ControlCommand::Pass, false, true},
      {"delay", ControlCommand::Delay, true, true},  {"rate", ControlCommand::Rate, true, true},
      {"stats", ControlCommand::Stats, false, false}};
  for (const Verb& verb : kVerbs) {
    if (words[0] != verb.name) continue;
    command.kind = verb.kind;
    size_t next = 1;
    const uint64_t max = verb.kind == ControlCommand::Delay ? 3600000 : UINT64_MAX / 2;
    if (verb.value && (words.size() < 2 || !ParseNumber(words[next++], max, command.value))) {
      error = words[0] + " takes a number";
      return false;
    }
    if (verb.port && next < words.size() && !ParsePort(words[next++], command.port)) {
      error = "bad port \"" + words[next - 1] + "\"";
      return false;
    }
    if (next < words.size()) {
      error = "too many words";
      return false;
    }
    return true;
  }
  error = "unknown command \"" + words[0] + "\" (cut, refuse, drop, pass, delay, rate, stats)";
  return false;
}

}  // namespace link_relay
