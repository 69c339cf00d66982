// Receive tasks against the send service over loopback.
#include "update/asio_config.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "net/pdu_frame.h"
#include "update/ftt_progress_record.h"
#include "update/ftt_protocol.h"
#include "update/ftt_send_service.h"
#include "update/ftt_task_manager.h"
#include "update/update_net_manager.h"
#include "tests/support/file_io.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {



class Catalogue : public ftt::FileCatalogue {
 public:
  std::map<std::string, std::string> codes;
  std::map<std::u16string, fs::path> files;
  std::optional<std::string> SecretKeyOf(const std::string& code, const std::string&) override {
    auto it = codes.find(code);
    return it == codes.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  std::optional<vx::FilePath> FileOf(const std::u16string& key) override {
    auto it = files.find(key);
    return it == files.end() ? std::nullopt : std::optional<fs::path>(it->second);
  }
};

class Notices : public ftt::FttNoticeSink {
 public:
  void OnNoticeTaskStatus(const ftt::TaskNotice& n) override {
    std::lock_guard<std::mutex> g(m_lock);
    m_all.push_back(n);
    m_changed.notify_all();
  }
  // Waits for a notice that satisfies `match`.
  template <class Match>
  bool WaitFor(Match match, int seconds = 30) {
    std::unique_lock<std::mutex> g(m_lock);
    return m_changed.wait_for(g, std::chrono::seconds(seconds), [&] {
      for (const auto& n : m_all)
        if (match(n)) return true;
      return false;
    });
  }
  std::vector<ftt::TaskNotice> All() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_all;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<ftt::TaskNotice> m_all;
};

namespace polling {
// Polls `condition` for up to 10 s.
template <class Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}
}  // namespace polling

bool Done(const ftt::TaskNotice& n) { return n.result == ftt::FTTR_ERR_PROGRESS && n.progress == 1000 && n.node == -1; }

ftt::NodeRecord Node(const char* code, const char* secret, int connections) {
  ftt::NodeRecord node;
  node.nMaxConnCnt = connections;
  std::strncpy(node.authCode, code, sizeof node.authCode);
  std::strncpy(node.szSecretKey, secret, sizeof node.szSecretKey);
  return node;
}

// A send service over `catalogue` and a started manager pointed at it; the
// manager goes first, the sink it calls after it.
class Session {
 public:
  explicit Session(ftt::FileCatalogue& catalogue) : m_service(catalogue) {
    uint16_t port = 0;
    EXPECT_TRUE(m_service.Start("127.0.0.1", port));
    m_manager.SetNoticeSink(&m_notices);
    EXPECT_TRUE(m_manager.FttMgrStart());
    m_manager.SetTransferService("127.0.0.1", port);
  }
  std::tuple<ftt::FttSendService&, Notices&, ftt::VX_FtTaskMgr&> parts() { return {m_service, m_notices, m_manager}; }

 private:
  ftt::FttSendService m_service;
  Notices m_notices;
  ftt::VX_FtTaskMgr m_manager;
};

// A sender that accepts any AUTH and serves only the requests that start
// below `limit`, then goes quiet: a transfer that is certain to be under way
// (not finished) when the test acts on it, however the machine schedules it.
// Like a sender that does not take a further AUTH, it closes a connection on
// its second one; `announceReauth` makes it claim otherwise all the same.
class StallingSender : public update::UpdateNetSink {
 public:
  StallingSender(const Bytes& content, int64_t limit, bool announceReauth = false)
      : m_content(content), m_limit(limit), m_announce(announceReauth) {
    m_net.SetSink(this);
    EXPECT_TRUE(m_net.Listen("127.0.0.1", m_port));
  }
  ~StallingSender() override { m_net.SetSink(nullptr); }
  uint16_t Port() const { return m_port; }
  int Requests() const { return m_requests; }
  int Connections() const { return m_connections; }
  void OnConnect(int, int) override {}
  void OnAccept(int, const std::string&) override { ++m_connections; }
  void OnPdu(int error, int h, uint16_t type, const uint8_t* body, uint16_t length) override {
    ftt::DownloadRequest request;
    if (error) return;
    if (type == ftt::PDU_FTT_AUTH) {
      std::lock_guard<std::mutex> g(m_lock);
      if (!m_authed.insert(h).second) {
        m_net.Close(h);
        return;
      }
      m_net.SendBody(h, ftt::PDU_FTT_AUTH, ftt::EncodeAuthResponse({0, int64_t(m_content.size())}));
      if (m_announce) m_net.SendBody(h, ftt::PDU_FTT_FEATURES, ftt::EncodeInt32Notice(ftt::kFeatureReauth));
    } else if (type == ftt::PDU_FTT_DOWNLOAD_REQUEST && ftt::DecodeDownloadRequest(body, length, request)) {
      ++m_requests;
      if (request.offset >= m_limit) return;
      const int64_t end = std::min<int64_t>(int64_t(m_content.size()), request.offset + request.length);
      for (int64_t at = request.offset; at < end; at += ftt::FTT_MAX_PACKAGE_SIZE) {
        const auto piece = m_content.begin() + at;
        const int64_t n = std::min<int64_t>(ftt::FTT_MAX_PACKAGE_SIZE, end - at);
        m_net.SendBody(h, ftt::PDU_FTT_DOWNLOAD_RESPONSE, ftt::EncodeDownloadResponse({at, Bytes(piece, piece + n)}));
      }
    }
  }

 private:
  const Bytes& m_content;
  const int64_t m_limit;
  const bool m_announce;
  std::mutex m_lock;
  std::set<int> m_authed;
  std::atomic<int> m_requests{0}, m_connections{0};
  uint16_t m_port = 0;
  update::UpdateNetManager m_net;
};

class FileTransfer : public ::testing::Test {
 protected:
  fs::path root;
  Catalogue catalogue;
  Bytes content;
  void SetUp() override {
    root = testing_support::TempFolder("ftt-" +
                                       std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    fs::create_directories(root);
    std::mt19937 random(3);
    content.resize(3 * 1024 * 1024 + 777);
    for (auto& b : content) b = uint8_t(random());
    WriteAll(root / "source.bin", content);
    catalogue.codes["CODE0001"] = "secret-0001";
    catalogue.files[u"data\\source.bin"] = root / "source.bin";
  }
  void TearDown() override { fs::remove_all(root); }

  // One receive task for the published file into `local`.
  void Fetch(ftt::VX_FtTaskMgr& manager, const fs::path& local, int connections, const char* code = "CODE0001") {
    ASSERT_EQ(manager.CreateRecvTask(u"data\\source.bin", false, local, 0, 42, true, u"id-1"), 0);
    ASSERT_EQ(manager.AddNode(true, u"data\\source.bin", Node(code, "secret-0001", connections)), 0);
  }
};

}  // namespace

TEST_F(FileTransfer, FetchesTheFileThroughOneAndFiveConnections) {
  for (int connections : {1, 5}) {
    Session session(catalogue);
    auto [service, notices, manager] = session.parts();
    const fs::path local = root / ("copy" + std::to_string(connections) + ".bin");
    Fetch(manager, local, connections);
    ASSERT_TRUE(notices.WaitFor(Done)) << connections;
    EXPECT_EQ(ReadAll(local), content);
    EXPECT_FALSE(ftt::VX_FtTaskMgr::HasTemporaryFile(local));
    EXPECT_EQ(service.BytesSent(), content.size());  // no range twice
    // The next file travels over the same connections, authenticated anew.
    catalogue.files[u"next"] = root / "source.bin";
    ASSERT_EQ(manager.CreateRecvTask(u"next", false, root / "next.bin", 0, 42, true, u"id-2"), 0);
    ASSERT_EQ(manager.AddNode(true, u"next", Node("CODE0001", "secret-0001", connections)), 0);
    ASSERT_TRUE(notices.WaitFor([](const ftt::TaskNotice& n) { return Done(n) && n.fileKey == u"next"; }));
    EXPECT_EQ(ReadAll(root / "next.bin"), content);
    // (A connection whose AUTH was answered just as the file completed may be
    // let go, so with five only some need to be kept.)
    if (connections == 1) EXPECT_EQ(service.Accepted(), 1u);
    EXPECT_LT(service.Accepted(), uint64_t(2 * connections));
    for (const auto& n : notices.All()) {
      EXPECT_EQ(n.lParam, 42u);
      EXPECT_LE(n.progress, 1000);
    }
    EXPECT_TRUE(manager.IsExistTask(true, u"data\\source.bin"));
    EXPECT_EQ(manager.RemoveTask(true, u"data\\source.bin"), 0);
    EXPECT_FALSE(manager.IsExistTask(true, u"data\\source.bin"));
    EXPECT_EQ(manager.RemoveTask(true, u"data\\source.bin"), ftt::FTTR_ERR_TASK_NO_EXIST);
  }
}

TEST_F(FileTransfer, AConnectionKeepsTwoRequestsOut) {
  StallingSender sender(content, 0);  // answers no request
  Notices notices;  // outlives the manager that calls it
  ftt::VX_FtTaskMgr manager;
  manager.SetNoticeSink(&notices);
  ASSERT_TRUE(manager.FttMgrStart());
  manager.SetTransferService("127.0.0.1", sender.Port());
  Fetch(manager, root / "waiting.bin", 1);
  ASSERT_TRUE(polling::Eventually([&] { return sender.Requests() >= ftt::VX_FtTaskMgr::kRequestsInFlight; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(sender.Requests(), ftt::VX_FtTaskMgr::kRequestsInFlight);
}

// After a file, a sender without feature bits gets a new connection for the
// next file; one that claimed to take a further AUTH but drops the kept
// connection on it sees that replaced at once, with no failure counted.
TEST_F(FileTransfer, TheNextFileFallsBackToANewConnection) {
  for (bool announces : {false, true}) {
    StallingSender sender(content, int64_t(content.size()), announces);
    Notices notices;  // outlives the manager that calls it
    ftt::VX_FtTaskMgr manager;
    manager.SetNoticeSink(&notices);
    ASSERT_TRUE(manager.FttMgrStart());
    manager.SetTransferService("127.0.0.1", sender.Port());
    Fetch(manager, root / "first.bin", 1);
    ASSERT_TRUE(notices.WaitFor(Done));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(manager.CreateRecvTask(u"second", false, root / "second.bin", 0, 0, true, u"id-2"), 0);
    ASSERT_EQ(manager.AddNode(true, u"second", Node("CODE0001", "secret-0001", 1)), 0);
    ASSERT_TRUE(notices.WaitFor([](const ftt::TaskNotice& n) { return Done(n) && n.fileKey == u"second"; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << announces;  // no pause
    EXPECT_EQ(ReadAll(root / "second.bin"), content);
    EXPECT_EQ(sender.Connections(), 2) << announces;
    for (const auto& n : notices.All()) EXPECT_NE(n.result, ftt::FTTR_ERR_FTT_SOCKET_CONNECT_FAILED);
  }
}

TEST_F(FileTransfer, AnInterruptedTransferResumesFromItsTemporaryFile) {
  const fs::path local = root / "resumed.bin";
  {
    // About half the file arrives, then the sender goes away.
    auto sender = std::make_unique<StallingSender>(content, int64_t(content.size() / 2));
    Notices notices;  // outlives the manager that calls it
    ftt::VX_FtTaskMgr manager;
    manager.SetNoticeSink(&notices);
    manager.FttMgrStart();
    manager.SetTransferService("127.0.0.1", sender->Port());
    Fetch(manager, local, 2);
    ASSERT_TRUE(notices.WaitFor([](const ftt::TaskNotice& n) { return n.progress >= 450; }));
    sender.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    manager.RemoveTask(true, u"data\\source.bin");
  }
  ASSERT_TRUE(ftt::VX_FtTaskMgr::HasTemporaryFile(local));
  EXPECT_FALSE(fs::exists(local));

  Session session(catalogue);
  auto [service, notices, manager] = session.parts();
  Fetch(manager, local, 3);
  ASSERT_TRUE(notices.WaitFor(Done));
  EXPECT_EQ(ReadAll(local), content);
  EXPECT_LT(service.BytesSent(), content.size() * 7 / 10);  // the first part was not sent again
}

TEST_F(FileTransfer, CorruptOrForeignTemporaryFilesStartOver) {
  const fs::path local = root / "fresh.bin";
  // A record of another file identity, and plain garbage.
  ftt::ProgressRecord foreign;
  foreign.identity = u"another file";
  foreign.fileLength = int64_t(content.size());
  foreign.received.Add(0, foreign.fileLength);
  Bytes withForeign(content.size(), 0xEE);
  const Bytes record = ftt::EncodeProgressRecord(foreign);
  withForeign.insert(withForeign.end(), record.begin(), record.end());
  Bytes garbage(content.size() + 500, 0x55);
  for (const Bytes& temporary : {withForeign, garbage}) {
    WriteAll(ftt::VX_FtTaskMgr::TemporaryFile(local), temporary);
    Session session(catalogue);
    auto [service, notices, manager] = session.parts();
    Fetch(manager, local, 2);
    ASSERT_TRUE(notices.WaitFor(Done));
    EXPECT_EQ(ReadAll(local), content);
    EXPECT_EQ(service.BytesSent(), content.size());
    fs::remove(local);
  }
}

TEST_F(FileTransfer, AWrongAuthorisationCodeIsRefused) {
  Session session(catalogue);
  auto [service, notices, manager] = session.parts();
  const fs::path local = root / "denied.bin";
  Fetch(manager, local, 2, "NOTACODE");
  EXPECT_TRUE(notices.WaitFor([](const ftt::TaskNotice& n) { return n.result == ftt::FTTR_ERR_AUTH_DENIED; }));
  EXPECT_FALSE(fs::exists(local));
  EXPECT_EQ(service.BytesSent(), 0u);
  EXPECT_GE(service.Refusals(), 1u);

  // A right code with a wrong secret key is refused too; an unknown file key likewise.
  ASSERT_EQ(manager.CreateRecvTask(u"data\\source.bin#2", false, root / "k.bin", 0, 0, true, u"x"), 0);
  ASSERT_EQ(manager.AddNode(true, u"data\\source.bin#2", Node("CODE0001", "wrong-secret", 1)), 0);
  EXPECT_TRUE(notices.WaitFor([](const ftt::TaskNotice& n) {
    return n.result == ftt::FTTR_ERR_AUTH_DENIED && n.fileKey == u"data\\source.bin#2";
  }));
  ASSERT_EQ(manager.CreateRecvTask(u"missing", false, root / "m.bin", 0, 0, true, u"x"), 0);
  ASSERT_EQ(manager.AddNode(true, u"missing", Node("CODE0001", "secret-0001", 1)), 0);
  EXPECT_TRUE(notices.WaitFor([](const ftt::TaskNotice& n) {
    return n.result == ftt::FTTR_ERR_FILE_NOT_EXIST && n.fileKey == u"missing";
  }));
  EXPECT_EQ(service.BytesSent(), 0u);
}

TEST_F(FileTransfer, RemovingATaskMidTransferStopsIt) {
  StallingSender sender(content, ftt::VX_FtTaskMgr::kRequestLength);
  Notices notices;  // outlives the manager that calls it
  ftt::VX_FtTaskMgr manager;
  manager.SetNoticeSink(&notices);
  ASSERT_TRUE(manager.FttMgrStart());
  manager.SetTransferService("127.0.0.1", sender.Port());
  const fs::path local = root / "removed.bin";
  Fetch(manager, local, 1);
  // The first request is answered, the second is the one the sender leaves
  // unanswered: removing before it has arrived would race its arrival.
  ASSERT_TRUE(polling::Eventually([&] { return sender.Requests() >= 2; }));
  EXPECT_EQ(manager.RemoveTask(true, u"data\\source.bin"), 0);
  EXPECT_TRUE(notices.WaitFor([](const ftt::TaskNotice& n) {
    return n.result == ftt::FTTR_ERR_OPERATE_ABORT && n.node == -1;
  }));
  const int asked = sender.Requests();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(sender.Requests(), asked);  // nothing more is asked for
  EXPECT_FALSE(fs::exists(local));
  EXPECT_TRUE(ftt::VX_FtTaskMgr::HasTemporaryFile(local));
  EXPECT_EQ(manager.TaskCount(), 0u);
}

TEST_F(FileTransfer, HostilePdusHurtNeitherSide) {
  ftt::FttSendService service(catalogue);
  uint16_t port = 0;
  ASSERT_TRUE(service.Start("127.0.0.1", port));

  // A client that sends mutated transfer PDUs on a few connections.
  struct Quiet : update::UpdateNetSink {
    void OnConnect(int, int) override {}
    void OnPdu(int, int, uint16_t, const uint8_t*, uint16_t) override {}
  } quiet;
  {
    update::UpdateNetManager client;
    client.SetSink(&quiet);
    std::mt19937 random(21);
    ftt::AuthRequest auth{ftt::kProtocolVersion, "CODE0001", u"data\\source.bin", u"id",
                          ftt::KeyProof("secret-0001", u"data\\source.bin")};
    const Bytes seeds[] = {ftt::EncodeAuthRequest(auth), ftt::EncodeDownloadRequest({0, 65536}),
                           ftt::EncodeDownloadRequest({int64_t(1) << 40, 100}), ftt::EncodeInt32Notice(5)};
    for (int connection = 0; connection < 6; ++connection) {
      const int h = client.CreateConnection("127.0.0.1", port);
      ASSERT_TRUE(client.Connect(h, "127.0.0.1", port));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      for (int i = 0; i < 300; ++i) {
        Bytes body = seeds[size_t(random()) % 4];
        if (random() % 3) body[random() % body.size()] = uint8_t(random());
        if (random() % 4 == 0) body.resize(random() % (body.size() + 1));
        const uint16_t type = uint16_t(0xCC01 + random() % 15);
        client.SendBody(h, type, body);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  // A fake sender that accepts any AUTH and answers with damaged data.
  struct Liar : update::UpdateNetSink {
    update::UpdateNetManager* net = nullptr;
    std::mt19937 random{8};
    void OnConnect(int, int) override {}
    void OnPdu(int error, int h, uint16_t type, const uint8_t* body, uint16_t length) override {
      if (error) return;
      auto send = [&](uint16_t t, const Bytes& b) {
        net->SendBody(h, t, b);
      };
      if (type == ftt::PDU_FTT_AUTH) send(ftt::PDU_FTT_AUTH, ftt::EncodeAuthResponse({0, 100000}));
      ftt::DownloadRequest request;
      if (type == ftt::PDU_FTT_DOWNLOAD_REQUEST && ftt::DecodeDownloadRequest(body, length, request))
        for (int i = 0; i < 4; ++i) {
          Bytes piece = ftt::EncodeDownloadResponse({request.offset + int64_t(random() % 3) * 50000, Bytes(4000, 1)});
          piece[random() % piece.size()] = uint8_t(random());
          send(uint16_t(random() % 2 ? ftt::PDU_FTT_DOWNLOAD_RESPONSE : 0xCC01 + random() % 15), piece);
        }
    }
  } liar;
  update::UpdateNetManager fake;
  liar.net = &fake;
  fake.SetSink(&liar);
  uint16_t fakePort = 0;
  ASSERT_TRUE(fake.Listen("127.0.0.1", fakePort));
  {
    Notices notices;  // outlives the manager that calls it
    ftt::VX_FtTaskMgr manager;
    manager.SetNoticeSink(&notices);
    manager.FttMgrStart();
    manager.SetTransferService("127.0.0.1", fakePort);
    ASSERT_EQ(manager.CreateRecvTask(u"k", false, root / "lied.bin", 0, 0, true, u"x"), 0);
    ASSERT_EQ(manager.AddNode(true, u"k", Node("A", "B", 3)), 0);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_FALSE(fs::exists(root / "lied.bin"));  // never completed from lies
    manager.RemoveTask(true, u"k");
  }
  fake.SetSink(nullptr);

  // The service still serves an honest client.
  Notices notices;  // outlives the manager that calls it
  ftt::VX_FtTaskMgr manager;
  manager.SetNoticeSink(&notices);
  manager.FttMgrStart();
  manager.SetTransferService("127.0.0.1", port);
  const fs::path local = root / "after.bin";
  Fetch(manager, local, 2);
  ASSERT_TRUE(notices.WaitFor(Done));
  EXPECT_EQ(ReadAll(local), content);
}

TEST_F(FileTransfer, AReceiverThatNeverReadsIsCutOff) {
  ftt::FttSendService service(catalogue);
  uint16_t port = 0;
  ASSERT_TRUE(service.Start("127.0.0.1", port));
  // A raw socket: authenticates, asks for the file again and again, reads nothing.
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  auto send = [&](uint16_t type, const Bytes& body) {
    Bytes pdu = {uint8_t(type), uint8_t(type >> 8), uint8_t(body.size()), uint8_t(body.size() >> 8)};
    pdu.insert(pdu.end(), body.begin(), body.end());
    asio::write(socket, asio::buffer(pdu));
  };
  send(ftt::PDU_FTT_AUTH, ftt::EncodeAuthRequest({ftt::kProtocolVersion, "CODE0001", u"data\\source.bin", u"id",
                                                  ftt::KeyProof("secret-0001", u"data\\source.bin")}));
  std::error_code ec;
  for (int i = 0; i < 400 && !ec; ++i) {
    Bytes pdu = ftt::EncodeDownloadRequest({0, ftt::kMaxRequestLength});
    Bytes framed = {uint8_t(ftt::PDU_FTT_DOWNLOAD_REQUEST), uint8_t(ftt::PDU_FTT_DOWNLOAD_REQUEST >> 8),
                    uint8_t(pdu.size()), 0};
    framed.insert(framed.end(), pdu.begin(), pdu.end());
    asio::write(socket, asio::buffer(framed), ec);
  }
  EXPECT_TRUE(polling::Eventually([&] { return service.Refusals() >= 1; }));
  // What was queued stays near the limit, not 400 MiB.
  EXPECT_LT(service.BytesSent(), uint64_t(ftt::FttSendService::kMaxQueuedBytes) + 2 * ftt::kMaxRequestLength +
                                     content.size());
}

#ifndef _WIN32
// The disk refuses the data part-way (a file-size limit): the task ends with
// one failure notice, its connections and file closed, and the update log
// (created by FttMgrStart next to the program) says why.
TEST_F(FileTransfer, AFailedDiskWriteEndsTheTaskAndIsLogged) {
  Session session(catalogue);
  auto [service, notices, manager] = session.parts();
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit tight = old;
  tight.rlim_cur = 1 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const fs::path local = root / "full.bin";
  Fetch(manager, local, 3);
  auto failed = [](const ftt::TaskNotice& n) { return n.result == ftt::FTTR_ERR_FILE_READ_WRITE_ERROR && n.node == -1; };
  const bool ended = notices.WaitFor(failed, 20);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // data still in flight arrives now
  setrlimit(RLIMIT_FSIZE, &old);
  ASSERT_TRUE(ended);
  size_t failures = 0;
  for (const auto& n : notices.All()) failures += failed(n);
  EXPECT_EQ(failures, 1u);
  const uint64_t sent = service.BytesSent();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(service.BytesSent(), sent);  // nothing more is asked for
  EXPECT_LT(sent, content.size());
  EXPECT_FALSE(fs::exists(local));

  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const fs::path logFile = fs::path(exe).parent_path() / "log" / "update" /
                           (fs::path(exe).filename().string() + " " + std::to_string(getpid()) + ".log");
  const Bytes log = ReadAll(logFile);
  EXPECT_NE(std::string(log.begin(), log.end()).find("[ERROR] write failed: "), std::string::npos) << logFile;
}
#endif
