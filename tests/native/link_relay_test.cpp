// The link relay: its pipe against a made-up clock, its command line and
// control commands, and real sockets through it (in-process and the program).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "tools/link_relay/delayed_pipe.h"
#include "tests/support/relay_thread.h"
#include "tools/link_relay/link_relay.h"
#include "tools/link_relay/relay_options.h"

using namespace link_relay;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

// ---- plain blocking sockets for the ends of the link

int Connect(const char* address, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &at.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Waits up to `timeout` for `fd` to become readable; then one recv.
ssize_t ReadSome(int fd, void* data, size_t size, std::chrono::milliseconds timeout = 5s) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, int(timeout.count())) != 1) return -2;  // timed out
  return ::read(fd, data, size);
}

// Reads until end of stream or error (up to `timeout` per read).
Bytes ReadToEnd(int fd, std::chrono::milliseconds timeout = 5s) {
  Bytes all;
  uint8_t buffer[65536];
  for (ssize_t n; (n = ReadSome(fd, buffer, sizeof buffer, timeout)) > 0;) all.insert(all.end(), buffer, buffer + n);
  return all;
}

bool SendAll(int fd, const uint8_t* data, size_t size) {
  while (size) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// A target on 127.0.0.1: each connection is served by `serve` on a thread of its own.
class Target {
 public:
  explicit Target(std::function<void(int)> serve) : m_serve(std::move(serve)) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&at), length);
    ::listen(m_fd, 16);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&at), &length);
    port = ntohs(at.sin_port);
    m_accept = std::thread([this] {
      for (int c; (c = ::accept(m_fd, nullptr, nullptr)) >= 0;)
        m_served.emplace_back([this, c] {
          m_serve(c);
          ::close(c);
        });
    });
  }
  ~Target() {
    ::shutdown(m_fd, SHUT_RDWR);
    ::close(m_fd);
    m_accept.join();
    for (auto& t : m_served) t.join();
  }
  uint16_t port = 0;

 private:
  std::function<void(int)> m_serve;
  int m_fd = -1;
  std::thread m_accept;
  std::vector<std::thread> m_served;
};

// Echoes until end of stream, then closes.
void Echo(int fd) {
  uint8_t buffer[65536];
  for (ssize_t n; (n = ReadSome(fd, buffer, sizeof buffer, 10s)) > 0;)
    if (!SendAll(fd, buffer, size_t(n))) return;
}

// The relay on its own thread, over one port to `target`.
class Relay : public testing_support::RelayThread {
 public:
  Relay(uint16_t target, const std::string& extra = {}) : RelayThread("0:" + std::to_string(target), extra) {
    port = Port();
  }
  int Connect() { return ::Connect("127.0.0.2", port); }
  uint16_t port = 0;
};

Bytes RandomBytes(size_t size) {
  std::mt19937 random(7);
  Bytes bytes(size);
  for (auto& b : bytes) b = uint8_t(random());
  return bytes;
}

}  // namespace

// ---- the pipe, against a made-up clock

TEST(DelayedPipe, BytesLeaveInOrderWhenDueAndTheEndLast) {
  DelayedPipe pipe;
  const Clock::time_point t0{};
  const Bytes a{1, 2, 3}, b{4};
  pipe.Push(a.data(), a.size(), t0, 100ms);
  pipe.PushEnd(t0 + 10ms, 0ms);  // a shorter delay does not overtake
  EXPECT_EQ(pipe.Writable(t0 + 99ms, 0).size, 0u);
  EXPECT_EQ(pipe.NextDue(0), t0 + 100ms);
  const DelayedPipe::Slice slice = pipe.Writable(t0 + 100ms, 0);
  ASSERT_EQ(slice.size, 3u);
  EXPECT_EQ(Bytes(slice.data, slice.data + slice.size), a);
  EXPECT_FALSE(pipe.EndDue(t0 + 100ms));
  pipe.Consume(2, t0 + 100ms, 0);
  EXPECT_EQ(pipe.Writable(t0 + 100ms, 0).data[0], 3);
  pipe.Consume(1, t0 + 100ms, 0);
  EXPECT_TRUE(pipe.EndDue(t0 + 100ms));
  pipe.PopEnd();
  EXPECT_TRUE(pipe.Empty());
}

TEST(DelayedPipe, HoldsAtMostItsBoundAndPacesTheRate) {
  DelayedPipe pipe;
  const Clock::time_point t0{};
  const Bytes block(DelayedPipe::kMaxWrite);
  while (pipe.Room()) pipe.Push(block.data(), std::min(block.size(), pipe.Room()), t0, 0ms);
  EXPECT_EQ(pipe.InFlight(), DelayedPipe::kMaxInFlight);
  // 1000 B/s: 50 bytes a write, the next 50 ms after the last began.
  const DelayedPipe::Slice first = pipe.Writable(t0, 1000);
  EXPECT_EQ(first.size, 50u);
  pipe.Consume(first.size, t0, 1000);
  EXPECT_EQ(pipe.Room(), 50u);
  EXPECT_EQ(pipe.Writable(t0 + 49ms, 1000).size, 0u);
  EXPECT_EQ(pipe.NextDue(1000), t0 + 50ms);
  EXPECT_EQ(pipe.Writable(t0 + 50ms, 1000).size, 50u);
  EXPECT_EQ(pipe.Writable(t0 + 50ms, 0).size, DelayedPipe::kMaxWrite - 50);  // no cap: the chunk's rest
}

// ---- command line and control commands

TEST(LinkRelayCommandLine, ParsesPortsAndPerPortRules) {
  RelayOptions o;
  bool help = false;
  std::string error;
  ASSERT_TRUE(ParseRelayArguments({"--ports", "7001,7002:8002,0:9000", "--delay", "40", "--rate", "7002=5000",
                                   "--refuse", "7001", "--cut-after", "1.5s", "--cut-after", "7002=250ms",
                                   "--listen", "127.0.0.3", "--control", "0"},
                                  o, help, error))
      << error;
  ASSERT_EQ(o.ports.size(), 3u);
  EXPECT_EQ(o.ports[0].target, 7001);
  EXPECT_EQ(o.ports[1].listen, 7002);
  EXPECT_EQ(o.ports[1].target, 8002);
  EXPECT_EQ(o.ports[2].listen, 0);
  for (const PortRule& r : o.ports) EXPECT_EQ(r.delayMs, 40);
  EXPECT_EQ(o.ports[1].rate, 5000u);
  EXPECT_EQ(o.ports[0].rate, 0u);
  EXPECT_EQ(o.ports[0].mode, PortMode::Refuse);
  ASSERT_EQ(o.cuts.size(), 2u);
  EXPECT_EQ(o.cuts[0].afterMs, 1500);
  EXPECT_EQ(o.cuts[0].port, 0);
  EXPECT_EQ(o.cuts[1].afterMs, 250);
  EXPECT_EQ(o.cuts[1].port, 7002);
  EXPECT_EQ(o.listenAddress, "127.0.0.3");
  EXPECT_EQ(o.targetAddress, "127.0.0.1");
  EXPECT_TRUE(o.control);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {}, {"--delay", "5"}, {"--ports", "7001,"}, {"--ports", "70000"}, {"--ports", "7001:0"},
           {"--ports", "1:2:3"}, {"--ports", "7001", "--drop", "7002"}, {"--ports", "7001", "--delay", "x"},
           {"--ports", "7001", "--cut-after", "3"}, {"--ports", "7001", "--cut-after", "9=3s"},
           {"--ports", "7001", "--rate"}, {"--ports", "7001", "--bogus", "1"}}) {
    RelayOptions ignored;
    EXPECT_FALSE(ParseRelayArguments(bad, ignored, help, error)) << ::testing::PrintToString(bad);
    EXPECT_FALSE(error.empty());
  }
}

TEST(LinkRelayCommandLine, ControlCommands) {
  struct Case {
    const char* line;
    ControlCommand::Kind kind;
    uint64_t value;
    uint16_t port;
  } cases[] = {
      {"cut\n", ControlCommand::Cut, 0, 0},      {"cut 7001", ControlCommand::Cut, 0, 7001},
      {"drop 7001", ControlCommand::Drop, 0, 7001}, {"pass 7001", ControlCommand::Pass, 0, 7001},
      {"refuse 7001", ControlCommand::Refuse, 0, 7001}, {"delay 250", ControlCommand::Delay, 250, 0},
      {"rate 10000 7002\r\n", ControlCommand::Rate, 10000, 7002}, {" stats ", ControlCommand::Stats, 0, 0}};
  for (const Case& c : cases) {
    ControlCommand command;
    std::string error;
    ASSERT_TRUE(ParseControlCommand(c.line, command, error)) << c.line << ": " << error;
    EXPECT_EQ(command.kind, c.kind) << c.line;
    EXPECT_EQ(command.value, c.value) << c.line;
    EXPECT_EQ(command.port, c.port) << c.line;
  }
  for (const char* bad : {"", "delay", "delay -1", "rate x", "cut 70000", "stats 1", "drop 1 2", "explode"}) {
    ControlCommand command;
    std::string error;
    EXPECT_FALSE(ParseControlCommand(bad, command, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

// ---- real sockets through the relay

TEST(LinkRelay, LargeBlockArrivesIntactBothWaysAndTheEndFollowsIt) {
  Target echo(Echo);
  Relay relay(echo.port, "--delay 20");
  const Bytes sent = RandomBytes(3 << 20);  // more than a pipe holds
  const int fd = relay.Connect();
  ASSERT_GE(fd, 0);
  std::thread writer([&] {
    EXPECT_TRUE(SendAll(fd, sent.data(), sent.size()));
    ::shutdown(fd, SHUT_WR);  // the echo ends only once it has read every byte
  });
  const Bytes back = ReadToEnd(fd);
  writer.join();
  ::close(fd);
  EXPECT_EQ(back.size(), sent.size());
  EXPECT_TRUE(back == sent);
  const std::string stats = relay.Command("stats");
  EXPECT_NE(stats.find("up 3145728 B, down 3145728 B"), std::string::npos) << stats;
}

TEST(LinkRelay, RoundTripTakesTwiceTheDelayWhichChangesWhileRunning) {
  Target echo(Echo);
  Relay relay(echo.port, "--delay 60");
  const int fd = relay.Connect();
  ASSERT_GE(fd, 0);
  auto roundTrip = [&] {
    uint8_t byte = 'x';
    const auto start = Clock::now();
    EXPECT_TRUE(SendAll(fd, &byte, 1));
    EXPECT_EQ(ReadSome(fd, &byte, 1), 1);
    return Clock::now() - start;
  };
  for (int i = 0; i < 3; ++i) {
    const auto rtt = roundTrip();
    EXPECT_GE(rtt, 120ms);
    EXPECT_LT(rtt, 400ms);
  }
  EXPECT_EQ(relay.Command("delay 0"), "ok\n");
  EXPECT_LT(roundTrip(), 60ms);
  ::close(fd);
}

TEST(LinkRelay, RateCapHoldsAndAPeerThatNeverReadsIsNotBufferedWithoutBound) {
  std::atomic<bool> stop{false};
  Target source([&](int fd) {
    const Bytes block(65536, 'r');
    while (!stop && SendAll(fd, block.data(), block.size())) {
    }
  });
  Relay relay(source.port, "--rate 200000");
  const int fd = relay.Connect();
  ASSERT_GE(fd, 0);
  uint8_t buffer[65536];
  size_t total = 0;
  ASSERT_GT(ReadSome(fd, buffer, sizeof buffer), 0);  // the clock starts at the first bytes
  const auto start = Clock::now();
  while (Clock::now() - start < 1s) {
    const ssize_t n = ReadSome(fd, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    total += size_t(n);
  }
  EXPECT_GT(total, 100000u);
  EXPECT_LT(total, 260000u);
  // Now stop reading: once the sockets' buffers and the relay's pipe are
  // full the relay reads no more, though the source never stops sending.
  relay.Command("rate 0");
  std::this_thread::sleep_for(300ms);
  const std::string before = relay.Command("stats");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(relay.Command("stats"), before);
  stop = true;
  ::close(fd);
}

TEST(LinkRelay, RefuseDropPassCutAndReset) {
  Target echo(Echo);
  Relay relay(echo.port);
  uint8_t byte = 'c';

  EXPECT_EQ(relay.Command("refuse " + std::to_string(relay.port)), "ok\n");
  int fd = relay.Connect();
  ASSERT_GE(fd, 0);  // accepted, then closed at once
  EXPECT_LE(ReadSome(fd, &byte, 1, 2s), 0);
  ::close(fd);

  EXPECT_EQ(relay.Command("drop " + std::to_string(relay.port)), "ok\n");
  EXPECT_EQ(relay.Connect(), -1);
  EXPECT_EQ(errno, ECONNREFUSED);

  EXPECT_EQ(relay.Command("pass " + std::to_string(relay.port)), "ok\n");
  int open[2] = {relay.Connect(), relay.Connect()};
  for (int c : open) {
    ASSERT_GE(c, 0);
    ASSERT_TRUE(SendAll(c, &byte, 1));
    ASSERT_EQ(ReadSome(c, &byte, 1), 1);
  }
  EXPECT_EQ(relay.Command("cut"), "ok\n");
  for (int c : open) {
    EXPECT_LE(ReadSome(c, &byte, 1, 2s), 0);  // end of stream or reset, not a time-out
    ::close(c);
  }
  fd = relay.Connect();  // new connections pass again; this one ends with a reset
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, &byte, 1));
  EXPECT_EQ(ReadSome(fd, &byte, 1), 1);
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
  std::string stats;
  for (int i = 0; i < 50 && (stats = relay.Command("stats")).find("open 0") == std::string::npos; ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_NE(stats.find("pass, delay 0 ms, rate 0 B/s, accepted 3, refused 1, target failed 0, open 0"),
            std::string::npos)
      << stats;
  EXPECT_NE(stats.find("cut 2"), std::string::npos) << stats;
  EXPECT_EQ(relay.Command("drop 1").rfind("error: ", 0), 0u);
}

// The program: its listening line, a timed cut, the control port, curl
// through it (where installed) and a clean stop on SIGTERM.
TEST(LinkRelay, ProgramCutsOnTimeAnswersItsControlPortAndStops) {
  Target http([](int fd) {
    char request[4096];
    if (ReadSome(fd, request, sizeof request) <= 0) return;
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nrelay\n";
    SendAll(fd, reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    uint8_t byte;
    ReadSome(fd, &byte, 1, 3s);  // open until the client or a cut ends it
  });
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    const std::string ports = "0:" + std::to_string(http.port);
    ::execl(VC_LINK_RELAY, "link-relay", "--ports", ports.c_str(), "--cut-after", "1500ms", "--control", "0",
            "--delay", "10", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  struct Reaper {  // the program ends with the test, passed or not
    pid_t pid;
    ~Reaper() {
      if (::waitpid(pid, nullptr, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    }
  } reaper{pid};
  std::string line;
  char c;
  while (ReadSome(out[0], &c, 1) == 1 && c != '\n') line += c;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(line, m,
                               std::regex("relaying 127\\.0\\.0\\.2:(\\d+) -> 127\\.0\\.0\\.1:" +
                                          std::to_string(http.port) + "; control 127\\.0\\.0\\.1:(\\d+)")))
      << line;
  const uint16_t port = uint16_t(std::stoi(m[1])), control = uint16_t(std::stoi(m[2]));

  if (std::system("command -v curl >/dev/null 2>&1") == 0) {
    const std::string curl = "curl -s --max-time 5 http://127.0.0.2:" + std::to_string(port) + "/";
    FILE* body = ::popen(curl.c_str(), "r");
    char text[64] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, body);
    EXPECT_EQ(::pclose(body), 0);
    EXPECT_EQ(std::string(text, n), "relay\n");
  }
  const int held = ::Connect("127.0.0.2", port);  // open until the cut
  ASSERT_GE(held, 0);
  ASSERT_TRUE(SendAll(held, reinterpret_cast<const uint8_t*>("GET /\r\n"), 7));
  const Bytes reply = ReadToEnd(held, 3s);
  EXPECT_NE(std::string(reply.begin(), reply.end()).find("relay"), std::string::npos);
  ::close(held);

  const int fd = ::Connect("127.0.0.1", control);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, reinterpret_cast<const uint8_t*>("stats\n"), 6));
  std::string stats;
  while (stats.find("ok\n") == std::string::npos && ReadSome(fd, &c, 1) == 1) stats += c;
  EXPECT_NE(stats.find(", cut 1\n"), std::string::npos) << stats;
  ::close(fd);

  ::kill(pid, SIGTERM);
  int status = -1;
  for (int i = 0; i < 50 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ::close(out[0]);
}

TEST(LinkRelay, UnreachableTargetClosesTheClient) {
  uint16_t closed = 0;
  { Target gone([](int) {}); closed = gone.port; }  // nothing listens there now
  Relay relay(closed);
  const int fd = relay.Connect();
  ASSERT_GE(fd, 0);
  uint8_t byte;
  EXPECT_LE(ReadSome(fd, &byte, 1, 2s), 0);
  ::close(fd);
  EXPECT_NE(relay.Command("stats").find("accepted 1, refused 0, target failed 1"), std::string::npos);
}
