#include <gtest/gtest.h>

#include "update/asio_config.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>

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
  EXPECT_EQ(log.lines[0], "[ERROR] hConn = -1, m_lpSocketMgr = 0.");
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
