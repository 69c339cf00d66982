#include <gtest/gtest.h>

#include "update/asio_config.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>
#endif

#include "update/update_log.h"
#include "update/update_net_manager.h"

using update::UpdateNetManager;
using Bytes = std::vector<uint8_t>;

namespace {

struct Received {
  int hConn;
  uint16_t type;
  Bytes body;
};

class RecordingSink : public update::UpdateNetSink {
 public:
  void OnConnect(int error, int hConn) override {
    std::lock_guard<std::mutex> g(m);
    connects.push_back({error, hConn});
    cv.notify_all();
  }
  void OnAccept(int hConn, const std::string& peer) override {
    std::lock_guard<std::mutex> g(m);
    accepted.push_back(hConn);
    peers.push_back(peer);
    cv.notify_all();
  }
  void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t n) override {
    std::lock_guard<std::mutex> g(m);
    if (error)
      errors.push_back(hConn);
    else
      pdus.push_back({hConn, type, Bytes(body, body + n)});
    cv.notify_all();
  }
  template <class F>
  bool WaitFor(F done, int seconds = 20) {
    std::unique_lock<std::mutex> g(m);
    return cv.wait_for(g, std::chrono::seconds(seconds), done);
  }

  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<int, int>> connects;
  std::vector<int> accepted, errors;
  std::vector<std::string> peers;
  std::vector<Received> pdus;
};

class MemoryLog : public update::UpdateLog {
 public:
  void Write(const std::string& message) override {
    std::lock_guard<std::mutex> g(m);
    lines.push_back(message);
  }
  std::mutex m;
  std::vector<std::string> lines;
};

Bytes WithReserved(const Bytes& body) {
  Bytes b(4 + body.size());
  std::copy(body.begin(), body.end(), b.begin() + 4);
  return b;
}

}  // namespace

TEST(UpdateNetManager, LoopbackExchangeLosesNothing) {
  RecordingSink serverSink, clientSink;
  UpdateNetManager server, client;
  server.SetSink(&serverSink);
  client.SetSink(&clientSink);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  const int h = client.CreateConnection("127.0.0.1", port);
  ASSERT_GE(h, 0);
  ASSERT_TRUE(client.Connect(h, "127.0.0.1", port));
  ASSERT_TRUE(clientSink.WaitFor([&] { return !clientSink.connects.empty(); }));
  EXPECT_EQ(clientSink.connects[0], std::make_pair(0, h));
  ASSERT_TRUE(serverSink.WaitFor([&] { return !serverSink.accepted.empty(); }));
  EXPECT_EQ(serverSink.peers[0], "127.0.0.1");
  EXPECT_EQ(client.PeerAddress(h), "127.0.0.1");

  std::mt19937 rng(11);
  std::vector<Received> sent;
  for (int i = 0; i < 3000; ++i) {
    Bytes body(i % 500 == 0 ? 65531 : rng() % 2000);
    for (auto& b : body) b = static_cast<uint8_t>(rng());
    const uint16_t type = static_cast<uint16_t>(rng());
    ASSERT_TRUE(client.SendPdu(h, type, WithReserved(body), body.size() + 4));
    sent.push_back({h, type, std::move(body)});
  }
  ASSERT_TRUE(serverSink.WaitFor([&] { return serverSink.pdus.size() >= sent.size(); }, 60));
  std::lock_guard<std::mutex> g(serverSink.m);
  ASSERT_EQ(serverSink.pdus.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    ASSERT_EQ(serverSink.pdus[i].type, sent[i].type) << i;
    ASSERT_EQ(serverSink.pdus[i].body, sent[i].body) << i;
  }

  // And back from the server's side of the connection.
  const int back = serverSink.accepted[0];
  ASSERT_TRUE(server.SendPdu(back, 3, WithReserved({1, 2}), 6));
  ASSERT_TRUE(clientSink.WaitFor([&] { return !clientSink.pdus.empty(); }));
  EXPECT_EQ(clientSink.pdus[0].body, (Bytes{1, 2}));
}

TEST(UpdateNetManager, FailuresAndTimeouts) {
  MemoryLog log;
  RecordingSink sink;
  UpdateNetManager client(&log);
  client.SetSink(&sink);
  // No such connection: false and the log line.
  EXPECT_FALSE(client.SendPdu(-1, 1, Bytes(4), 4));
  ASSERT_EQ(log.lines.size(), 1u);
  // The line names the handle and the (present) socket manager.
  EXPECT_EQ(log.lines[0].rfind("[ERROR] hConn = -1, m_lpSocketMgr = ", 0), 0u) << log.lines[0];
  EXPECT_EQ(log.lines[0].find("m_lpSocketMgr = 0."), std::string::npos) << log.lines[0];
  // A body too long to frame is refused.
  RecordingSink serverSink;
  UpdateNetManager server;
  server.SetSink(&serverSink);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  client.SetTimeouts(300, 60000);
  const int h = client.CreateConnection("127.0.0.1", port);
  ASSERT_TRUE(client.Connect(h, "127.0.0.1", port));
  ASSERT_TRUE(sink.WaitFor([&] { return !sink.connects.empty(); }));
  EXPECT_FALSE(client.SendPdu(h, 1, Bytes(65536), 65536));
  // Silence beyond the unreceived time-out deletes the connection.
  ASSERT_TRUE(sink.WaitFor([&] { return !sink.errors.empty(); }));
  EXPECT_EQ(sink.errors[0], h);
  {
    std::lock_guard<std::mutex> g(log.m);
    EXPECT_EQ(log.lines.back(), "[WARNING] OnSocketUnrecvTimer");
  }
  EXPECT_FALSE(client.SendPdu(h, 1, Bytes(4), 4));

  // Connecting to a closed port reports an error through OnConnect.
  server.CloseAll();
  const int h2 = client.CreateConnection("127.0.0.1", port);
  ASSERT_TRUE(client.Connect(h2, "127.0.0.1", port));
  ASSERT_TRUE(sink.WaitFor([&] { return sink.connects.size() >= 2; }));
  EXPECT_NE(sink.connects[1].first, 0);
  EXPECT_FALSE(client.Connect(999, "127.0.0.1", port));
  EXPECT_FALSE(client.Connect(client.CreateConnection("x", 1), "", 1));
  // A name that resolves to nothing: the connect starts and OnConnect reports it.
  const int h3 = client.CreateConnection("x", 1);
  ASSERT_TRUE(client.Connect(h3, "no-such-host.invalid", 1));
  ASSERT_TRUE(sink.WaitFor([&] { return sink.connects.size() >= 3; }));
  EXPECT_EQ(sink.connects[2].second, h3);
  EXPECT_NE(sink.connects[2].first, 0);
}

// A peer that never reads: what it was sent fills the socket, the rest waits
// in the queue, and the connection goes once a write has taken longer than
// the unsent time-out, also while a batch is still under way; the sink hears of it.
TEST(UpdateNetManager, APeerThatNeverReadsIsDroppedAfterTheUnsentTimeout) {
  MemoryLog log;
  RecordingSink sink;
  UpdateNetManager server(&log);
  server.SetSink(&sink);
  server.SetTimeouts(180000, 400);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  asio::io_context io;
  asio::ip::tcp::socket peer(io);
  peer.connect({asio::ip::make_address("127.0.0.1"), port});
  ASSERT_TRUE(sink.WaitFor([&] { return !sink.accepted.empty(); }));
  const int h = sink.accepted[0];
  const auto start = std::chrono::steady_clock::now();
  // Far more than socket buffers hold, from this thread and from the I/O thread's side.
  size_t sent = 0;
  for (int i = 0; i < 400 && server.SendPdu(h, 7, server.AcquireBuffer(65535), 65535); ++i) sent += 65535;
  EXPECT_GT(server.QueuedBytes(h), 0u);
  ASSERT_TRUE(sink.WaitFor([&] { return !sink.errors.empty(); }));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(sink.errors[0], h);
  EXPECT_GE(took, std::chrono::milliseconds(350));
  EXPECT_LT(took, std::chrono::seconds(10));
  {
    std::lock_guard<std::mutex> g(log.m);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), "[WARNING] OnSocketUnsendTimer");
  }
  EXPECT_FALSE(server.SendPdu(h, 7, Bytes(4), 4));
  EXPECT_EQ(server.QueuedBytes(h), 0u);
}

TEST(UpdateNetManager, HostileStreamClosesTheConnection) {
  RecordingSink serverSink;
  UpdateNetManager server;
  server.SetSink(&serverSink);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  asio::io_context io;
  asio::ip::tcp::socket raw(io);
  raw.connect({asio::ip::make_address("127.0.0.1"), port});
  // A valid PDU, then a header whose length cannot be framed.
  const Bytes bytes = {7, 0, 1, 0, 9, 1, 0, 0xFD, 0xFF, 0, 0, 0};
  asio::write(raw, asio::buffer(bytes));
  ASSERT_TRUE(serverSink.WaitFor([&] { return !serverSink.errors.empty(); }));
  std::lock_guard<std::mutex> g(serverSink.m);
  ASSERT_EQ(serverSink.pdus.size(), 1u);
  EXPECT_EQ(serverSink.pdus[0].type, 7);
  EXPECT_EQ(serverSink.errors[0], serverSink.accepted[0]);
}

namespace {

template <class F>
bool WaitUntil(F done, int ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

bool HasLine(MemoryLog& log, const std::string& part) {
  std::lock_guard<std::mutex> g(log.m);
  for (const auto& l : log.lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

// Whether the server closed the raw connection (reads end) within a while.
bool ClosedByPeer(asio::ip::tcp::socket& s, int ms = 3000) {
  std::error_code ec;
  s.non_blocking(true, ec);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  uint8_t b[4096];
  while (std::chrono::steady_clock::now() < end) {
    s.read_some(asio::buffer(b), ec);
    if (ec && ec != asio::error::would_block && ec != asio::error::try_again) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A server's sink that acts on PDUs of type 9 only.
// Declared before the manager, so that it outlives the manager's events.
struct ActsOnType9 : RecordingSink {
  UpdateNetManager* net = nullptr;
  void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t n) override {
    if (!error && type == 9) net->MarkActive(hConn);
    RecordingSink::OnPdu(error, hConn, type, body, n);
  }
};

// A server on 127.0.0.1 with `limits`, whose sink acts on type 9.
struct ActingServer {
  MemoryLog log;
  ActsOnType9 sink;
  UpdateNetManager server{&log};
  uint16_t port = 0;
  explicit ActingServer(const update::UpdateNetLimits& limits, const std::vector<std::string>& trusted = {}) {
    sink.net = &server;
    server.SetLimits(limits);
    if (!trusted.empty()) server.SetTrustedProxies(trusted);
    server.SetSink(&sink);
  }
  bool Listen() { return server.Listen("127.0.0.1", port); }
};

// A raw client socket from `from` (any address of 127/8) to the server.
asio::ip::tcp::socket RawFrom(asio::io_context& io, const char* from, uint16_t port) {
  asio::ip::tcp::socket s(io);
  s.open(asio::ip::tcp::v4());
  s.bind({asio::ip::make_address(from), 0});
  s.connect({asio::ip::make_address("127.0.0.1"), port});
  return s;
}

}  // namespace

// At the total limit a new address gets a place from the address that holds
// the most; among equals the connection the sink acted on least goes, else
// the oldest. The per-address limit refuses.
TEST(UpdateNetManager, ConnectionLimitsSharePlacesOutByAddress) {
  update::UpdateNetLimits limits;
  limits.maxConnections = 4;
  limits.maxPerAddress = 3;
  ActingServer acting(limits);
  ASSERT_TRUE(acting.Listen());
  auto& [log, sink, server, port] = acting;
  asio::io_context io;
  // A connection that sends one PDU of `type` (9 is acted on), once it is in.
  auto sending = [&](const char* from, uint16_t type) {
    const size_t before = sink.pdus.size();
    auto s = RawFrom(io, from, port);
    asio::write(s, asio::buffer(Bytes{uint8_t(type), 0, 0, 0}));
    EXPECT_TRUE(sink.WaitFor([&] { return sink.pdus.size() == before + 1; })) << from;
    return s;
  };
  auto a1 = sending("127.0.0.1", 9), a2 = sending("127.0.0.1", 9), a3 = sending("127.0.0.1", 9);
  auto a4 = RawFrom(io, "127.0.0.1", port);
  EXPECT_TRUE(ClosedByPeer(a4));
  EXPECT_TRUE(HasLine(log, "connection from 127.0.0.1 refused: 3 connections open from this address (limit 3)"));
  auto b1 = sending("127.0.0.2", 9);
  // Full: a new address takes the oldest place of the address that holds most.
  auto c1 = sending("127.0.0.3", 7);  // 7 is not acted on
  EXPECT_TRUE(ClosedByPeer(a1));
  EXPECT_TRUE(HasLine(log, "closed for one from 127.0.0.3: 4 connections open (limit 4)"));
  // That address gets no more than the others now hold.
  auto a5 = RawFrom(io, "127.0.0.1", port);
  EXPECT_TRUE(ClosedByPeer(a5));
  EXPECT_TRUE(HasLine(log, "connection from 127.0.0.1 refused: 4 connections open (limit 4)"));
  auto d1 = sending("127.0.0.4", 9);
  EXPECT_TRUE(ClosedByPeer(a2));
  // One each: the connection nothing was acted on for goes, not the oldest.
  auto e1 = sending("127.0.0.5", 9);
  EXPECT_TRUE(ClosedByPeer(c1));
  for (auto* kept : {&a3, &b1, &d1, &e1}) EXPECT_FALSE(ClosedByPeer(*kept, 200));
  EXPECT_EQ(server.ConnectionCount(), 4u);
}

// Behind a trusted balancer the PROXY header names the peer, and the limits
// count that address; nobody else may send one, nor the balancer leave it out.
TEST(UpdateNetManager, ProxyHeadersOnlyFromTrustedBalancers) {
  update::UpdateNetLimits limits;
  limits.maxPerAddress = 1;
  ActingServer acting(limits, {"127.0.0.1"});
  ASSERT_TRUE(acting.Listen());
  auto& [log, sink, server, port] = acting;
  asio::io_context io;
  auto send = [&](const char* from, const std::string& text) {
    auto s = RawFrom(io, from, port);
    Bytes b(text.begin(), text.end());
    b.insert(b.end(), {9, 0, 0, 0});  // and a PDU in the same write
    asio::write(s, asio::buffer(b));
    return s;
  };
  auto first = send("127.0.0.1", "PROXY TCP4 192.0.2.5 127.0.0.1 4000 80\r\n");
  auto second = send("127.0.0.1", "PROXY TCP4 192.0.2.6 127.0.0.1 4001 80\r\n");
  ASSERT_TRUE(sink.WaitFor([&] { return sink.pdus.size() == 2; }));
  EXPECT_EQ(server.PeerAddress(sink.pdus[0].hConn), "192.0.2.5");
  EXPECT_EQ(sink.peers, (std::vector<std::string>{"192.0.2.5", "192.0.2.6"}));
  const struct {
    const char* name;
    const char* from;
    std::string text;
    const char* line;
  } refused[] = {
      {"the named address at its limit", "127.0.0.1", "PROXY TCP4 192.0.2.5 127.0.0.1 4002 80\r\n",
       "connection from 192.0.2.5 (through 127.0.0.1) refused: 1 connections open from this address"},
      {"a balancer without a header", "127.0.0.1", "", "no valid PROXY header from the balancer"},
      {"a bad header", "127.0.0.1", "PROXY TCP4 192.0.2.7 nowhere 1 2\r\n", "no valid PROXY header"},
      {"a header from another peer", "127.0.0.2", "PROXY TCP4 192.0.2.7 127.0.0.1 4003 80\r\n",
       "connection from 127.0.0.2 closed: a PROXY header from a peer not trusted to send one"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.name);
    auto s = send(r.from, r.text);
    EXPECT_TRUE(ClosedByPeer(s));
    EXPECT_TRUE(HasLine(log, r.line));
  }
  EXPECT_EQ(sink.pdus.size(), 2u);
  auto plain = send("127.0.0.2", "");  // others speak as ever
  ASSERT_TRUE(sink.WaitFor([&] { return sink.pdus.size() == 3; }));
  EXPECT_EQ(sink.peers.back(), "127.0.0.2");
}

// A connection that keeps sending what nothing acts on is closed once idle.
TEST(UpdateNetManager, IdleConnectionsAreClosedWhateverTheySend) {
  update::UpdateNetLimits limits;
  limits.idleMs = 400;
  ActingServer acting(limits);
  ASSERT_TRUE(acting.Listen());
  auto& [log, sink, server, port] = acting;
  asio::io_context io;
  auto acted = RawFrom(io, "127.0.0.1", port), ignored = RawFrom(io, "127.0.0.2", port);
  for (int i = 0; i < 25; ++i) {  // 2.5 s
    std::error_code ec;
    asio::write(acted, asio::buffer(Bytes{9, 0, 0, 0}));
    asio::write(ignored, asio::buffer(Bytes{7, 0, 0, 0}), ec);  // fails once closed
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(ClosedByPeer(ignored, 200));
  EXPECT_FALSE(ClosedByPeer(acted, 200));
  EXPECT_TRUE(HasLine(log, "from 127.0.0.2 closed: nothing to act on for 400 ms"));
}

#ifndef _WIN32
TEST(UpdateNetManager, AcceptingGoesOnAfterRunningOutOfDescriptors) {
  MemoryLog log;
  RecordingSink sink;
  UpdateNetManager server(&log);
  server.SetSink(&sink);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  // Client sockets made first; then no descriptor is left for the server.
  std::vector<int> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(::socket(AF_INET, SOCK_STREAM, 0));
  int highest = 0;
  for (int fd = 0; fd < 65536; ++fd)
    if (fcntl(fd, F_GETFD) != -1) highest = fd;
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit tight = old;
  tight.rlim_cur = rlim_t(highest + 1);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> fillers;  // the free numbers below the limit
  for (int fd; (fd = ::dup(0)) != -1;) fillers.push_back(fd);
  for (int fd : clients) ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const bool logged = WaitUntil([&] { return HasLine(log, "[ERROR] accept failed"); });
  for (int fd : fillers) ::close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
  EXPECT_TRUE(logged);
  // With descriptors back, the waiting connections and new ones are accepted.
  ASSERT_TRUE(sink.WaitFor([&] { return sink.accepted.size() == 4; }, 10));
  for (int fd : clients) ::close(fd);
  asio::io_context io;
  auto late = RawFrom(io, "127.0.0.1", port);
  EXPECT_TRUE(sink.WaitFor([&] { return sink.accepted.size() == 5; }, 10));
}
#endif

TEST(UpdateNetManager, AConnectionThatDoesNotReadStopsBeingRead) {
  // The server answers every PDU with 400 bytes; the requests are more than
  // one read (256 KB) holds, so that reading must stop for the test to hold.
  constexpr int kRequests = 200000;
  constexpr size_t kAnswer = 400;
  struct Echo : RecordingSink {
    UpdateNetManager* net = nullptr;
    std::atomic<int> requests{0};
    void OnPdu(int error, int hConn, uint16_t, const uint8_t*, uint16_t) override {
      if (error) return;
      ++requests;
      net->SendBody(hConn, 2, Bytes(kAnswer, 1));
    }
  } echo;
  UpdateNetManager server;
  update::UpdateNetLimits limits;
  limits.maxQueuedBytes = 64 << 10;
  server.SetLimits(limits);
  echo.net = &server;
  server.SetSink(&echo);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  asio::io_context io;
  auto raw = RawFrom(io, "127.0.0.1", port);
  // 200000 requests (800 KB), never a read: the answers would be 80 MB.
  std::thread writer([&] {
    const Bytes request = {1, 0, 0, 0};
    Bytes all;
    for (int i = 0; i < kRequests; ++i) all.insert(all.end(), request.begin(), request.end());
    std::error_code ec;
    raw.non_blocking(false, ec);
    asio::write(raw, asio::buffer(all), ec);
  });
  size_t most = 0;
  for (int i = 0; i < 100; ++i) {
    most = std::max(most, server.TotalQueuedBytes());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Bounded by the limit plus the answers to one read (at most 256 KB of requests).
  EXPECT_LT(most, size_t(64 << 10) + (kAnswer + 4) * (1 << 18) / 4 + 1);
  EXPECT_LT(echo.requests.load(), kRequests);
  // Reading the answers lets it go on to the end.
  std::thread reader([&] {
    Bytes b(1 << 16);
    std::error_code ec;
    size_t got = 0;
    while (!ec && got < size_t(kRequests) * (kAnswer + 4)) got += raw.read_some(asio::buffer(b), ec);
  });
  EXPECT_TRUE(WaitUntil([&] { return echo.requests.load() == kRequests; }, 60000));
  writer.join();
  reader.join();
}

TEST(UpdateNetManager, APduNotCompletedInTimeClosesTheConnection) {
  MemoryLog log;
  RecordingSink sink;
  UpdateNetManager server(&log);
  update::UpdateNetLimits limits;
  limits.pduDeadlineMs = 1500;
  server.SetLimits(limits);
  server.SetSink(&sink);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  asio::io_context io;
  auto slow = RawFrom(io, "127.0.0.1", port);
  auto idle = RawFrom(io, "127.0.0.1", port);
  ASSERT_TRUE(sink.WaitFor([&] { return sink.accepted.size() == 2; }));
  // A header announcing 100 bytes, then one byte at a time.
  const Bytes header = {5, 0, 100, 0};
  asio::write(slow, asio::buffer(header));
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    std::error_code ec;
    asio::write(slow, asio::buffer(Bytes{1}), ec);
  }
  EXPECT_TRUE(ClosedByPeer(slow, 4000));
  // The sink hears of it after the close, which the peer may see first.
  EXPECT_TRUE(sink.WaitFor([&] { return !sink.errors.empty(); }));
  EXPECT_TRUE(HasLine(log, "a PDU not completed within 1500 ms"));
  // A connection that began nothing is left alone (the unreceived time-out is its bound).
  std::lock_guard<std::mutex> g(sink.m);
  EXPECT_EQ(sink.errors.size(), 1u);
}

TEST(UpdateNetManager, CloseAllFromTheSinkAndCloseWhenSent) {
  struct Closer : RecordingSink {
    UpdateNetManager* net = nullptr;
    void OnPdu(int error, int hConn, uint16_t type, const uint8_t* b, uint16_t n) override {
      RecordingSink::OnPdu(error, hConn, type, b, n);
      if (error) return;
      if (type == 1) {
        net->SendBody(hConn, 9, Bytes(50000, 3));
        net->CloseWhenSent(hConn);
      }
      if (type == 2) net->CloseAll();  // on the I/O thread
    }
  } closer;
  UpdateNetManager server;
  closer.net = &server;
  server.SetSink(&closer);
  uint16_t port = 0;
  ASSERT_TRUE(server.Listen("127.0.0.1", port));
  asio::io_context io;
  auto raw = RawFrom(io, "127.0.0.1", port);
  asio::write(raw, asio::buffer(Bytes{1, 0, 0, 0}));
  // The whole answer arrives, then the end of the stream.
  Bytes got;
  std::error_code ec;
  uint8_t b[8192];
  while (!ec) {
    const size_t n = raw.read_some(asio::buffer(b), ec);
    got.insert(got.end(), b, b + n);
  }
  EXPECT_EQ(ec, asio::error::eof);
  EXPECT_EQ(got.size(), 50004u);
  auto other = RawFrom(io, "127.0.0.1", port);
  asio::write(other, asio::buffer(Bytes{2, 0, 0, 0}));
  EXPECT_TRUE(ClosedByPeer(other));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the posted work would run now
  EXPECT_EQ(server.ConnectionCount(), 0u);
}
