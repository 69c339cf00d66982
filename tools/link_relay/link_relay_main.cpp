// link-relay: forwards TCP ports and degrades the link (delay, rate cap,
// refused or dropped ports, cuts), for tests over real links.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <asio.hpp>

#include "tools/link_relay/link_relay.h"

namespace {

void PrintUsage(FILE* to) {
  std::fprintf(to,
               "usage: link-relay --ports LIST [--listen A] [--target A] [--delay [PORT=]MS] [--rate [PORT=]BPS]\n"
               "                  [--refuse PORT] [--drop PORT] [--cut-after [PORT=]TIME]... [--control PORT]\n"
               "  LIST: PORT or LISTENPORT:TARGETPORT, comma-separated; listen port 0 = a free port\n"
               "  (defaults: listen on 127.0.0.2, forward to 127.0.0.1; TIME as 3s or 500ms)\n"
               "  commands on standard input or the control port (127.0.0.1), one a line:\n"
               "  cut [PORT], refuse PORT, drop PORT, pass PORT, delay MS [PORT], rate BPS [PORT], stats\n");
}

// Commands from standard input, unless it is a terminal the relay runs in
// the background of (reading would stop it); replies on standard output.
// End of input leaves the relay running.
class StdinCommands {
 public:
  StdinCommands(asio::io_context& io, link_relay::LinkRelay& relay) : m_input(io), m_relay(relay) {
    asio::error_code ec;
    if (::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) != ::getpgrp()) return;
    const int fd = ::dup(STDIN_FILENO);
    if (fd >= 0) m_input.assign(fd, ec);
    if (!ec && fd >= 0) Read();
  }
  void Close() {
    asio::error_code ignored;
    m_input.close(ignored);
  }

 private:
  void Read() {
    asio::async_read_until(m_input, m_buffer, '\n', [this](const asio::error_code& error, size_t n) {
      if (error) return;
      const auto begin = asio::buffers_begin(m_buffer.data());
      const std::string line(begin, begin + n);
      m_buffer.consume(n);
      std::fputs(m_relay.Command(line).c_str(), stdout);
      std::fflush(stdout);
      Read();
    });
  }
  asio::posix::stream_descriptor m_input;
  asio::streambuf m_buffer{4096};
  link_relay::LinkRelay& m_relay;
};

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  link_relay::RelayOptions options;
  bool help = false;
  std::string error;
  if (!link_relay::ParseRelayArguments(std::vector<std::string>(argv + 1, argv + argc), options, help, error)) {
    std::fprintf(stderr, "link-relay: %s\n", error.c_str());
    PrintUsage(stderr);
    return 2;
  }
  if (help) {
    PrintUsage(stdout);
    return 0;
  }
  asio::io_context io(1);
  link_relay::LinkRelay relay(io, options);
  if (!relay.Start(error)) {
    std::fprintf(stderr, "link-relay: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", relay.ListeningLine().c_str());
  std::fflush(stdout);
  StdinCommands commands(io, relay);
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const asio::error_code& error, int) {
    if (error) return;
    relay.Stop();
    commands.Close();
  });
  io.run();
  return 0;
}
