// The online client against a real update server on loopback: the whole
// download, a server that goes away and comes back, no server, bad file lists
// and corrupted downloads.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "base/utf16.h"
#include "tests/support/file_io.h"
#include "tests/support/relay_thread.h"
#include "tests/support/update_install_loop.h"
#include "tools/update_server/address_server.h"
#include "tools/update_server/publisher.h"
#include "tools/update_server/update_server.h"
#include "net/pdu_frame.h"
#include "update/local_path.h"
#include "update/update_install.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using testing_support::ReadAll;
using testing_support::WriteAll;

using testing_support::LoopHost;

namespace {

struct OnlineInstall : ::testing::Test {
  fs::path root = testing_support::TempFolder(
      "update-install-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  fs::path product = root / "product", published = root / "published", install = root / "install",
           temporary = root / "tmp";
  std::unique_ptr<update_server::UpdateServer> server;
  uint16_t port = 0, transferPort = 0;
  std::map<std::string, Bytes> files;  // relative name -> bytes

  void SetUp() override {
    fs::remove_all(root);
    std::mt19937 random(5);
    auto make = [&](const std::string& name, size_t size, bool compressible) {
      Bytes b(size);
      for (auto& c : b) c = uint8_t(compressible ? random() % 4 : random());
      files[name] = b;
      WriteAll(product / name, b);
    };
    make("readme.txt", 1000, true);
    make("empty.dat", 0, true);
    make("bin/app.exe", 300000, false);
    make("bin/plugins/a.dll", 70000, true);
    make("data/big.bin", 3 << 20, false);
    for (int i = 0; i < 6; ++i) make("data/small" + std::to_string(i) + ".txt", 5000 + size_t(i), true);
    fs::create_directories(product / "emptydir");
    Publish("v4.0.2026", 3);
  }
  void TearDown() override {
    server.reset();
    fs::remove_all(root);
  }
  void Publish(const std::string& version, int build) {
    update_server::PublishOptions o;
    o.files = product;
    o.version = version;
    o.build = build;
    o.output = published;
    update_server::PublishSummary summary;
    std::string error;
    ASSERT_TRUE(update_server::Publish(o, summary, error)) << error;
  }
  void StartServer() {
    server = std::make_unique<update_server::UpdateServer>();
    update_server::ServerOptions o;
    o.published = published;
    o.port = port;
    o.transferPort = transferPort;
    std::string error;
    ASSERT_TRUE(server->Start(o, error)) << error;
    port = server->Port();
    transferPort = server->TransferPort();
  }
  void ExpectInstalled() {
    for (const auto& [name, bytes] : files) {
      ASSERT_TRUE(fs::exists(install / name)) << name;
      EXPECT_TRUE(ReadAll(install / name) == bytes) << name;
    }
    EXPECT_TRUE(fs::is_directory(install / "emptydir"));
    EXPECT_TRUE(fs::exists(install / "FileInfo.info"));
    for (const auto& e : fs::recursive_directory_iterator(install)) {
      const std::string name = e.path().filename().string();
      EXPECT_FALSE(name.ends_with(".udt!") || name.ends_with(".sd!")) << name;
    }
  }
  // Connects and waits for the file list, then downloads into `install`.
  void ConnectAndLoad(LoopHost& host, update::UpdateInstall& client, const std::string& server = "127.0.0.1") {
    host.client = &client;
    client.SetProductNumber(u"1001");
    client.SetServerList(vx::Utf8ToUtf16(server + ":" + std::to_string(port)));
    client.ConnectUpdateSrv();
    ASSERT_TRUE(host.RunUntil([&] { return host.connected > 0 || !host.errors.empty(); }, std::chrono::seconds(20)));
    ASSERT_TRUE(host.errors.empty()) << host.errors[0].first;
    EXPECT_EQ(host.loaded, 1);
    EXPECT_EQ(client.FileVersion(), u"v4.0.20263");
  }
  // The relay on 127.0.0.2 in front of both of the server's ports.
  std::unique_ptr<testing_support::RelayThread> Relay(const std::string& extra) {
    return std::make_unique<testing_support::RelayThread>(std::to_string(port) + "," + std::to_string(transferPort),
                                                          extra);
  }
  // Connects to `server` and runs until the file list is in or an error.
  void Connect(LoopHost& host, update::UpdateInstall& client, const std::string& server, int seconds) {
    host.client = &client;
    client.SetProductNumber(u"1001");
    client.SetServerList(vx::Utf8ToUtf16(server));
    client.ConnectUpdateSrv();
    host.RunUntil([&] { return host.loaded > 0 || !host.errors.empty(); }, std::chrono::seconds(seconds));
  }
  void StartDownload(update::UpdateInstall& client) {
    client.SetInstallDirectory(update::InstallText(install));
    ASSERT_TRUE(client.ReloadFileList());
    ASSERT_TRUE(client.CreateDirectories());
    client.StartDownload(5, 5);
  }
};

}  // namespace

TEST(ServerList, ParsesAddressPortItems) {
  auto list = update::ParseServerList(u"10.0.0.1:17800, update.example:80,bad,1.2.3.4:5");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].address, "10.0.0.1");
  EXPECT_EQ(list[0].port, 17800);
  EXPECT_EQ(list[1].address, "update.example");
  EXPECT_EQ(list[1].port, 80);
  EXPECT_TRUE(update::ParseServerList(u"10.0.0.1").empty());
  EXPECT_TRUE(update::ParseServerList(u"").empty());
  EXPECT_TRUE(update::ParseServerList(u"host:99999").empty());
  EXPECT_TRUE(update::ParseServerList(u"host:x1").empty());
  EXPECT_EQ(update::ProductNumber(u"1001"), 1001);
  EXPECT_EQ(update::ProductNumber(u" 42abc"), 42);
  EXPECT_EQ(update::ProductNumber(u"abc"), 0);
  EXPECT_EQ(update::ProductNumber(u"99999999999"), INT32_MAX);
}

TEST_F(OnlineInstall, DownloadsEveryFileByteIdentical) {
  StartServer();
  LoopHost host;
  {
    update::UpdateInstall client(host, temporary);
    ConnectAndLoad(host, client);
    uint64_t total = 0;
    for (const auto& [name, bytes] : files) total += bytes.size();
    EXPECT_EQ(client.TotalSize(), total);
    StartDownload(client);
    EXPECT_TRUE(client.Downloading());
    ASSERT_TRUE(host.RunUntil([&] { return host.complete > 0 || !host.errors.empty(); }, std::chrono::seconds(60)));
    ASSERT_TRUE(host.errors.empty()) << host.errors[0].first;
    EXPECT_FALSE(client.Downloading());
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.DownloadedBytes(), total);
    EXPECT_EQ(client.Scheduler().OverallPercent(), 100);
    EXPECT_EQ(client.FileListCopyKey(), u"FileInfo.info");
  }
  ExpectInstalled();
  EXPECT_EQ(host.complete, 1);
}

TEST_F(OnlineInstall, HostNamesAreResolved) {
  StartServer();
  LoopHost host;
  update::UpdateInstall client(host, temporary);
  ConnectAndLoad(host, client, "localhost");
}

TEST_F(OnlineInstall, UnreachableServersAreRetriedWithGrowingPausesThenReported) {
  StartServer();
  server.reset();  // a port nobody listens on
  const uint16_t closed = port;
  const std::string none = "127.0.0.1:" + std::to_string(closed);
  LoopHost host;
  update::UpdateInstall client(host, temporary);
  client.SetRetryPauses(100, 400);
  const auto start = Clock::now();
  Connect(host, client, none, 20);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_NE(host.errors[0].first, 0);
  EXPECT_EQ(host.errors[0].second, 0);
  EXPECT_EQ(host.TraceCount("[OnSUConnect]"), 5);  // the first try and four more
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100 + 200 + 400 + 400));
  EXPECT_EQ(host.connected, 0);

  // A server that accepts and closes (as one past its connection limit
  // does): each close is a failed attempt, paced, then the refusal box.
  port = transferPort = 0;
  StartServer();
  auto relay = Relay("--refuse " + std::to_string(port));
  LoopHost refused;
  update::UpdateInstall closing(refused, temporary);
  closing.SetRetryPauses(100, 400);
  const auto closingStart = Clock::now();
  Connect(refused, closing, "127.0.0.2:" + std::to_string(port), 20);
  ASSERT_EQ(refused.errors.size(), 1u);
  EXPECT_EQ(refused.errors[0], (std::pair<int, int>{update::UpdateInstall::kUnreachableCode, 0}));
  EXPECT_EQ(refused.TraceCount("[OnSUConnect] iError = 0"), 5);
  EXPECT_GE(Clock::now() - closingStart, std::chrono::milliseconds(100 + 200 + 400 + 400));

  // Two servers, the first unreachable: after its attempts, the second.
  LoopHost second;
  update::UpdateInstall fallback(second, temporary);
  fallback.SetRetryPauses(50, 100);
  Connect(second, fallback, none + ",127.0.0.1:" + std::to_string(port), 30);
  EXPECT_TRUE(second.errors.empty());
  EXPECT_EQ(second.loaded, 1);
  EXPECT_EQ(second.TraceCount("[OnSUConnect]"), 6);  // five failed, then the second server

  // A list without any usable item makes no attempt and says so.
  LoopHost idle;
  update::UpdateInstall nothing(idle, temporary);
  nothing.SetServerList(u"nothing");
  nothing.ConnectUpdateSrv();
  EXPECT_EQ(idle.TraceCount("[_ConnectUpdateSrv] IP"), 0);
  EXPECT_EQ(idle.errors, (std::vector<std::pair<int, int>>{{10000, 0}}));
}

// 600 ms round trips at 200 KB/s a connection: a restarted transfer needs
// more than a speed tick before its first byte, and must get it.
TEST_F(OnlineInstall, SlowLinkDownloadsWithoutTearingDownItsTransfers) {
  StartServer();
  auto relay = Relay("--delay 300 --rate 200000");
  LoopHost host;
  {
    update::UpdateInstall client(host, temporary);
    Connect(host, client, "127.0.0.2:" + std::to_string(port), 30);
    ASSERT_EQ(host.loaded, 1);
    StartDownload(client);
    host.StartSpeedTimer();
    ASSERT_TRUE(host.RunUntil([&] { return host.complete > 0 || !host.errors.empty(); }, std::chrono::seconds(90)));
    ASSERT_TRUE(host.errors.empty()) << host.errors[0].first;
    EXPECT_EQ(host.TraceCount("[ReConnect]"), 0);
    ASSERT_GE(host.speeds.size(), 3u);
    EXPECT_NE(host.speeds[2], "0B") << "no speed within three seconds";
  }
  ExpectInstalled();
}

// The control port answers but the transfer port accepts and closes, or is
// gone: before the downloads and during them, the refusal box follows in
// bounded time instead of "connecting" or reconnecting for ever.
TEST_F(OnlineInstall, UnreachableTransferServiceIsReported) {
  StartServer();
  auto relay = Relay("--refuse " + std::to_string(transferPort));
  LoopHost host;
  update::UpdateInstall client(host, temporary);
  Connect(host, client, "127.0.0.2:" + std::to_string(port), 40);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0], (std::pair<int, int>{update::UpdateInstall::kUnreachableCode, 0}));
  EXPECT_EQ(host.TraceCount("[Transfer] the transfer service cannot be reached"), update::UpdateInstall::kTransferCycles);
  EXPECT_EQ(host.loaded, 0);

  relay->Command("pass " + std::to_string(transferPort));
  LoopHost during;
  update::UpdateInstall downloading(during, temporary);
  Connect(during, downloading, "127.0.0.2:" + std::to_string(port), 30);
  ASSERT_EQ(during.loaded, 1);
  relay->Command("rate 100000");
  StartDownload(downloading);
  during.StartSpeedTimer();
  ASSERT_TRUE(during.RunUntil([&] { return downloading.DownloadedBytes() > 0; }, std::chrono::seconds(20)));
  relay->Command("drop " + std::to_string(transferPort));
  relay->Command("cut " + std::to_string(transferPort));
  ASSERT_TRUE(during.RunUntil([&] { return !during.errors.empty(); }, std::chrono::seconds(60)));
  EXPECT_EQ(during.errors[0], (std::pair<int, int>{update::UpdateInstall::kUnreachableCode, 1}));
  EXPECT_LE(during.TraceCount("[ReConnect]"), update::UpdateInstall::kTransferCycles);
}

TEST_F(OnlineInstall, MalformedFileInfoAnswerIsDropped) {
  // A server that sends one DOWNLOADFILEINFO_FT answer: whole, or cut short.
  for (const bool whole : {true, false}) {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    std::thread serve([&] {
      asio::ip::tcp::socket peer(io);
      acceptor.accept(peer);
      std::vector<uint8_t> body = update::Encode(update::DownloadFileInfoFtResponse{});
      if (!whole) body.resize(body.size() - 1);
      std::vector<uint8_t> pdu;
      net::FramePdu(update::QR_UDT_DOWNLOADFILEINFO_FT, body.data(), body.size(), pdu);
      asio::write(peer, asio::buffer(pdu));
      uint8_t sink[256];
      asio::error_code ignored;
      while (peer.read_some(asio::buffer(sink), ignored) > 0) {
      }
    });
    LoopHost host;
    {
      update::UpdateInstall client(host, temporary);
      host.client = &client;
      client.SetServerList(vx::Utf8ToUtf16("127.0.0.1:" + std::to_string(acceptor.local_endpoint().port())));
      client.ConnectUpdateSrv();
      host.RunUntil([&] { return client.TransferTaskCount() > 0; }, std::chrono::milliseconds(whole ? 5000 : 500));
      EXPECT_EQ(client.TransferTaskCount(), whole ? 1u : 0u) << (whole ? "whole" : "cut short");
    }
    serve.join();
  }
}

TEST_F(OnlineInstall, UnsafeFileListsAreRefused) {
  const Bytes good = ReadAll(published / "FileInfo.info");
  std::vector<update::FileInfo> list;
  ASSERT_TRUE(update::DecodeFileList(good.data(), good.size(), list));
  for (const std::u16string& bad : std::vector<std::u16string>{u"..\\evil.txt", u"C:\\evil.txt", std::u16string(400, u'a')}) {
    std::vector<update::FileInfo> changed = list;
    // The server itself refuses such keys for files it serves; a folder
    // entry reaches the client.
    for (auto& f : changed)
      if (f.strFileKey == u"readme.txt") f.strFileKey = bad, f.type = update::kFileTypeDirectory;
    WriteAll(published / "FileInfo.info", update::EncodeFileList(changed));
    StartServer();
    LoopHost host;
    {
      update::UpdateInstall client(host, temporary);
      host.client = &client;
      client.SetServerList(vx::Utf8ToUtf16("127.0.0.1:" + std::to_string(port)));
      client.ConnectUpdateSrv();
      ASSERT_TRUE(host.RunUntil([&] { return !host.errors.empty() || host.connected; }, std::chrono::seconds(20)));
      ASSERT_EQ(host.errors.size(), 1u);
      EXPECT_EQ(host.errors[0].first, update::UpdateInstall::kBadFileListCode);
      EXPECT_EQ(host.connected, 0);
      EXPECT_TRUE(client.Files().m_mapFileInfos.empty());
    }
    server.reset();
    EXPECT_FALSE(fs::exists(root / "evil.txt"));
    EXPECT_FALSE(fs::exists(install));
  }
}

TEST_F(OnlineInstall, CorruptDownloadsAreFetchedAgainThenReported) {
  Bytes stored = ReadAll(published / "files" / "bin" / "app.exe");
  stored[stored.size() / 2] ^= 0xFF;
  WriteAll(published / "files" / "bin" / "app.exe", stored);
  StartServer();
  LoopHost host;
  {
    update::UpdateInstall client(host, temporary);
    ConnectAndLoad(host, client);
    StartDownload(client);
    ASSERT_TRUE(host.RunUntil([&] { return host.complete > 0 || !host.errors.empty(); }, std::chrono::seconds(60)));
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], (std::pair<int, int>{update::DownloadScheduler::kBadDataCode, 1}));
    EXPECT_EQ(host.TraceCount("[OnFileDecoded] bad download of bin\\app.exe"),
              update::DownloadScheduler::kMaxFileFailures);
  }
  EXPECT_EQ(host.complete, 0);
  EXPECT_FALSE(fs::exists(install / "bin" / "app.exe"));
}

TEST_F(OnlineInstall, ResumesWhenTheServerComesBack) {
  Bytes big(40 << 20);
  std::mt19937 random(9);
  for (auto& c : big) c = uint8_t(random());
  files["data/huge.bin"] = big;
  WriteAll(product / "data" / "huge.bin", big);
  Publish("v4.0.2026", 3);
  StartServer();
  LoopHost host;
  {
    update::UpdateInstall client(host, temporary);
    ConnectAndLoad(host, client);
    StartDownload(client);
    const uint64_t total = client.TotalSize();
    ASSERT_TRUE(host.RunUntil([&] { return client.DownloadedBytes() > total / 5 || host.complete; },
                              std::chrono::seconds(60)));
    server->Stop();
    server.reset();
    host.RunUntil([] { return false; }, std::chrono::milliseconds(300));
    StartServer();
    ASSERT_TRUE(host.RunUntil([&] { return host.complete > 0 || !host.errors.empty(); }, std::chrono::seconds(90)));
    ASSERT_TRUE(host.errors.empty()) << host.errors[0].first;
  }
  ExpectInstalled();
}

TEST_F(OnlineInstall, AChangedVersionOnReconnectIsReported) {
  StartServer();
  LoopHost host;
  update::UpdateInstall client(host, temporary);
  ConnectAndLoad(host, client);
  server.reset();
  Publish("v4.0.2027", 1);
  StartServer();
  client.ReConnect();
  ASSERT_TRUE(host.RunUntil([&] { return !host.errors.empty(); }, std::chrono::seconds(20)));
  EXPECT_EQ(host.errors[0], (std::pair<int, int>{update::UpdateInstall::kVersionChangedCode, 0}));
  EXPECT_FALSE(client.Connected());
}

// Address-server mode: the client asks the address server, which names the
// update servers that answer, quickest first, and leaves out one that stops.
TEST_F(OnlineInstall, AddressServerNamesTheUpdateServersThatAnswer) {
  StartServer();
  update_server::UpdateServer second;
  update_server::ServerOptions secondOptions;
  secondOptions.published = published;
  std::string error;
  ASSERT_TRUE(second.Start(secondOptions, error)) << error;
  update_server::AddressServer addresses;
  update_server::AddressServerOptions o;
  o.servers = {{"127.0.0.1", port}, {"127.0.0.1", second.Port()}, {"127.0.0.1", 1}};
  o.probeEvery = std::chrono::milliseconds(200);
  ASSERT_TRUE(addresses.Start(o, error)) << error;
  EXPECT_EQ(addresses.Alive().size(), 2u);
  const std::u16string list = vx::Utf8ToUtf16("127.0.0.1:" + std::to_string(addresses.Port()));
  // Runs a client in address-server mode until the file list or an error.
  auto ask = [&](LoopHost& host) {
    update::UpdateInstall client(host, temporary);
    host.client = &client;
    client.SetProductNumber(u"1001");
    client.SetAddressServerList(list, 5000, 50);
    host.RunUntil([&] { return host.loaded > 0 || !host.errors.empty(); }, std::chrono::seconds(20));
  };
  LoopHost both;
  ask(both);
  EXPECT_EQ(both.loaded, 1);
  EXPECT_TRUE(both.errors.empty());

  // A query that is no query ends its connection; the next is answered.
  {
    asio::io_context io;
    asio::ip::tcp::socket peer(io);
    peer.connect({asio::ip::make_address("127.0.0.1"), addresses.Port()});
    const uint8_t junk[] = {12, 0, 3, 0, 1, 2, 3};
    asio::write(peer, asio::buffer(junk));
    uint8_t sink[64];
    asio::error_code ended;
    while (peer.read_some(asio::buffer(sink), ended) > 0) {
    }
    EXPECT_EQ(ended, asio::error::eof);
  }
  server.reset();  // the first stops: left out after its next probe
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (addresses.Alive().size() != 1 && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(addresses.Alive(), std::vector<std::string>{"127.0.0.1:" + std::to_string(second.Port())});
  LoopHost one;
  ask(one);
  EXPECT_EQ(one.loaded, 1);

  second.Stop();  // none alive: "no usable address"
  while (!addresses.Alive().empty() && Clock::now() < until + std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  LoopHost none;
  ask(none);
  ASSERT_EQ(none.errors.size(), 1u);
  EXPECT_EQ(none.errors[0], (std::pair<int, int>{10000, 0}));

  addresses.Stop();  // no address server: the connect error
  LoopHost unreachable;
  ask(unreachable);
  ASSERT_EQ(unreachable.errors.size(), 1u);
  EXPECT_EQ(unreachable.errors[0], (std::pair<int, int>{10061, 0}));
}
