// A scripted client holds the whole conversation with the update server:
// version, credentials, file list, every file through the transfer service.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

#include "base/fs_path.h"
#include "base/utf16.h"
#include "net/pdu_frame.h"
#include "tools/update_server/publisher.h"
#include "tools/update_server/update_server.h"
#include "update/asio_config.h"
#include "update/download_file.h"
#include "update/ftt_protocol.h"
#include "update/ftt_task_manager.h"
#include "update/update_messages.h"
#include "update/update_net_manager.h"
#include "tests/support/file_io.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {



// The client side of the control connection: requests and their responses.
class Client : public update::UpdateNetSink {
 public:
  update::UpdateNetManager net;
  int handle = -1;

  bool Connect(uint16_t port) {
    net.SetSink(this);
    handle = net.CreateConnection("127.0.0.1", port);
    net.Connect(handle, "127.0.0.1", port);
    std::unique_lock<std::mutex> g(m_lock);
    return m_changed.wait_for(g, std::chrono::seconds(10), [&] { return m_connected; });
  }
  void SendRaw(uint16_t type, const Bytes& body) {
    net.SendBody(handle, type, body);
  }
  template <class Response, class Request>
  bool Ask(const Request& request, Response& response) {
    SendRaw(uint16_t(Request::kType), update::Encode(request));
    std::unique_lock<std::mutex> g(m_lock);
    if (!m_changed.wait_for(g, std::chrono::seconds(10), [&] { return !m_inbox.empty(); })) return false;
    auto [type, body] = std::move(m_inbox.front());
    m_inbox.pop_front();
    return type == Response::kType && update::Decode(body.data(), body.size(), response);
  }
  // Discards responses until none has come for 300 ms.
  void Drain() {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      std::lock_guard<std::mutex> g(m_lock);
      if (m_inbox.empty()) return;
      m_inbox.clear();
    }
  }

 private:
  void OnConnect(int error, int) override {
    std::lock_guard<std::mutex> g(m_lock);
    m_connected = error == 0;
    m_changed.notify_all();
  }
  void OnPdu(int error, int, uint16_t type, const uint8_t* body, uint16_t length) override {
    if (error) return;
    std::lock_guard<std::mutex> g(m_lock);
    m_inbox.emplace_back(type, Bytes(body, body + length));
    m_changed.notify_all();
  }
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_connected = false;
  std::deque<std::pair<uint16_t, Bytes>> m_inbox;
};

class Done : public ftt::FttNoticeSink {
 public:
  void OnNoticeTaskStatus(const ftt::TaskNotice& n) override {
    std::lock_guard<std::mutex> g(m_lock);
    if (n.result == ftt::FTTR_ERR_PROGRESS && n.progress == 1000 && n.node == -1) m_done.push_back(n.fileKey);
    if (n.result != ftt::FTTR_ERR_PROGRESS && n.result != ftt::FTTR_NODE_STATE_CHANGED) m_failed = true;
    m_changed.notify_all();
  }
  bool Wait(const std::u16string& key) {
    std::unique_lock<std::mutex> g(m_lock);
    return m_changed.wait_for(g, std::chrono::seconds(30), [&] {
      return m_failed || std::find(m_done.begin(), m_done.end(), key) != m_done.end();
    }) && !m_failed;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<std::u16string> m_done;
  bool m_failed = false;
};

}  // namespace

TEST(UpdateServer, WholeConversationDeliversEveryFile) {
  const fs::path root = testing_support::TempFolder("update-server-conversation");
  fs::remove_all(root);
  std::mt19937 random(4);
  std::map<std::string, Bytes> product = {{"ZepClient.exe", Bytes(300000)}, {"VMSkin/a.bmp", Bytes(70000)},
                                          {"config/empty.ini", {}}};
  for (auto& [name, data] : product) {
    for (auto& b : data) b = uint8_t(random() % 16);
    WriteAll(root / "product" / name, data);
  }
  update_server::PublishOptions publish{root / "product", "v4.0.2026", 12, root / "published"};
  update_server::PublishSummary summary;
  std::string error;
  ASSERT_TRUE(update_server::Publish(publish, summary, error)) << error;

  update_server::UpdateServer server;
  std::vector<std::string> lines;
  std::mutex linesLock;
  update_server::ServerOptions options;
  options.published = root / "published";
  options.log = [&](const std::string& line) {
    std::lock_guard<std::mutex> g(linesLock);
    lines.push_back(line);
  };
  ASSERT_TRUE(server.Start(options, error)) << error;

  Client client;
  ASSERT_TRUE(client.Connect(server.Port()));
  // Hostile PDUs first: dropped, the connection keeps working.
  client.SendRaw(update::QR_UDT_DOWNLOADFILE_FT, Bytes{6, 0, 0, 0, 1});
  client.SendRaw(0x7777, Bytes(100, 0xFF));
  client.SendRaw(update::QR_UDT_GETAUTHCODE_FT, Bytes{});
  {  // and a burst of mutated requests of every type
    update::DownloadFileFtRequest seed;
    seed.nFileID = 1;
    seed.authCode = u"ABCDEFABCDEFABCD";
    seed.strFileKey = u"ZepClient.exe";
    const Bytes base = update::Encode(seed);
    for (int i = 0; i < 2000; ++i) {
      Bytes body = base;
      body[random() % body.size()] = uint8_t(random());
      if (random() % 3 == 0) body.resize(random() % (body.size() + 1));
      if (!body.empty()) body[0] = uint8_t(random() % 13);  // the type code inside the body
      client.SendRaw(uint16_t(random() % 13), body);
    }
    client.Drain();  // whatever was answered is discarded
  }

  update::GetVersionInfoExRequest versionRequest;
  versionRequest.productNumber = 7;
  update::GetVersionInfoResponse version;
  ASSERT_TRUE(client.Ask(versionRequest, version));
  EXPECT_EQ(version.result, 0);
  EXPECT_EQ(version.version.versionString, u"v4.0.2026");
  EXPECT_EQ(version.version.build, 12);
  EXPECT_EQ(version.version.UdtName(), u"FileInfo.info.udt!");

  update::GetAuthCodeFtResponse credentials;
  ASSERT_TRUE(client.Ask(update::GetAuthCodeFtRequest{}, credentials));
  EXPECT_EQ(credentials.port, server.TransferPort());
  EXPECT_EQ(credentials.authCode.size(), 16u);
  EXPECT_EQ(credentials.secretKey.size(), 16u);

  update::DownloadFileInfoExFtRequest listRequest;
  listRequest.authCode = credentials.authCode;
  listRequest.secretKey = credentials.secretKey;
  update::DownloadFileInfoExFtResponse listKey;
  ASSERT_TRUE(client.Ask(listRequest, listKey));
  EXPECT_EQ(listKey.result, 0);
  // Codes the server never issued get nothing.
  update::DownloadFileInfoExFtRequest forged = listRequest;
  forged.authCode = u"0000000000000000";
  update::DownloadFileInfoExFtResponse refused;
  ASSERT_TRUE(client.Ask(forged, refused));
  EXPECT_EQ(refused.result, update::FAILED);

  Done done;  // outlives the manager that calls it
  ftt::VX_FtTaskMgr manager;
  manager.SetNoticeSink(&done);
  manager.FttMgrStart();
  manager.SetTransferService("127.0.0.1", credentials.port);
  ftt::NodeRecord node;
  node.nMaxConnCnt = 2;
  std::memcpy(node.authCode, vx::Utf16ToUtf8(credentials.authCode).data(), 16);
  std::memcpy(node.szSecretKey, vx::Utf16ToUtf8(credentials.secretKey).data(), 16);
  const fs::path listPath = root / "client" / "FileInfo.info.udt!";
  fs::create_directories(root / "client");
  ASSERT_EQ(manager.CreateRecvTask(listKey.fileKey, false, listPath, 0, 0, true, u"list"), 0);
  ASSERT_EQ(manager.AddNode(true, listKey.fileKey, node), 0);
  ASSERT_TRUE(done.Wait(listKey.fileKey));
  const Bytes listBytes = ReadAll(listPath);
  std::vector<update::FileInfo> list;
  ASSERT_TRUE(update::DecodeFileList(listBytes.data(), listBytes.size(), list));

  size_t fetched = 0;
  for (const auto& info : list) {
    if (info.type == update::kFileTypeDirectory) continue;
    update::DownloadFileFtRequest fileRequest;
    fileRequest.nFileID = info.nFileID;
    fileRequest.authCode = credentials.authCode;
    fileRequest.secretKey = credentials.secretKey;
    fileRequest.strFileKey = info.strFileKey;
    update::DownloadFileFtResponse fileKey;
    ASSERT_TRUE(client.Ask(fileRequest, fileKey));
    ASSERT_EQ(fileKey.result, 0);
    EXPECT_EQ(fileKey.nFileID, info.nFileID);
    const fs::path local = root / "client" / (std::to_string(info.nFileID) + ".udt!");
    ASSERT_EQ(manager.CreateRecvTask(fileKey.fileKey, false, local, 0, 0, true, info.fileIdText), 0);
    ASSERT_EQ(manager.AddNode(true, fileKey.fileKey, node), 0);
    ASSERT_TRUE(done.Wait(fileKey.fileKey)) << vx::Utf16ToUtf8(info.strFileKey);
    const Bytes downloaded = ReadAll(local);
    Bytes data;
    ASSERT_TRUE(update::DecodeDownloadFile(downloaded.data(), downloaded.size(), data, error)) << error;
    std::string name = vx::Utf16ToUtf8(info.strFileKey);
    std::replace(name.begin(), name.end(), '\\', '/');
    EXPECT_EQ(data, product.at(name)) << name;
    ++fetched;
  }
  EXPECT_EQ(fetched, product.size());

  update::DownloadFileFtRequest missing;
  missing.nFileID = 999;
  missing.authCode = credentials.authCode;
  missing.secretKey = credentials.secretKey;
  update::DownloadFileFtResponse none;
  ASSERT_TRUE(client.Ask(missing, none));
  EXPECT_EQ(none.result, update::FILENOTEXIST);
  update::KeepAliveResponse alive;
  ASSERT_TRUE(client.Ask(update::KeepAliveRequest{}, alive));

  server.Stop();
  std::lock_guard<std::mutex> g(linesLock);
  EXPECT_GE(lines.size(), 8u);
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& l) { return l.find("dropped") != std::string::npos; }),
            lines.end());
  fs::remove_all(root);
}

namespace {

// A client on a raw socket from any address of 127/8: PDUs out, PDUs in.
class RawClient {
 public:
  RawClient(const char* from, uint16_t port) : m_socket(m_io) {
    m_socket.open(asio::ip::tcp::v4());
    m_socket.bind({asio::ip::make_address(from), 0});
    m_socket.connect({asio::ip::make_address("127.0.0.1"), port});
    std::error_code ec;
    m_socket.non_blocking(true, ec);
  }
  bool Send(uint16_t type, const Bytes& body) {
    Bytes pdu;
    net::FramePdu(type, body.data(), body.size(), pdu);
    std::error_code ec;
    size_t at = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (at < pdu.size() && std::chrono::steady_clock::now() < end) {
      at += m_socket.write_some(asio::buffer(pdu.data() + at, pdu.size() - at), ec);
      if (ec == asio::error::would_block) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      else if (ec) return false;
    }
    return at == pdu.size();
  }
  template <class Request>
  bool Send(const Request& r) {
    return Send(uint16_t(Request::kType), update::Encode(r));
  }
  // The next PDU, or false at the end of the stream or after 5 s.
  bool Read(uint16_t& type, Bytes& body) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      if (m_buffer.size() >= 4) {
        const size_t length = size_t(m_buffer[2] | m_buffer[3] << 8);
        if (m_buffer.size() >= 4 + length) {
          type = uint16_t(m_buffer[0] | m_buffer[1] << 8);
          body.assign(m_buffer.begin() + 4, m_buffer.begin() + std::ptrdiff_t(4 + length));
          m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(4 + length));
          return true;
        }
      }
      uint8_t chunk[65536];
      std::error_code ec;
      const size_t n = m_socket.read_some(asio::buffer(chunk), ec);
      if (ec == asio::error::would_block) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      if (ec) {
        m_ended = true;
        return false;
      }
      m_buffer.insert(m_buffer.end(), chunk, chunk + n);
    }
  }
  template <class Response, class Request>
  bool Ask(const Request& request, Response& response) {
    uint16_t type = 0;
    Bytes body;
    return Send(request) && Read(type, body) && type == Response::kType &&
           update::Decode(body.data(), body.size(), response);
  }
  bool Ended() const { return m_ended; }

 private:
  asio::io_context m_io;
  asio::ip::tcp::socket m_socket;
  Bytes m_buffer;
  bool m_ended = false;
};

struct Published {
  fs::path root;
  explicit Published(const std::string& name) : root(testing_support::TempFolder(name)) {
    fs::remove_all(root);
    WriteAll(root / "product" / "a.bin", Bytes(5000, 7));
    update_server::PublishOptions publish{root / "product", "v1", 1, root / "published"};
    update_server::PublishSummary summary;
    std::string error;
    EXPECT_TRUE(update_server::Publish(publish, summary, error)) << error;
  }
  ~Published() { fs::remove_all(root); }
};

}  // namespace

TEST(UpdateServer, AuthorisationCodesBelongToTheirPeerAndExpire) {
  Published published("update-server-codes");
  update_server::UpdateServer server;
  update_server::ServerOptions options;
  options.published = published.root / "published";
  options.codeLifetime = std::chrono::milliseconds(800);
  std::string error;
  ASSERT_TRUE(server.Start(options, error)) << error;

  RawClient owner("127.0.0.1", server.Port()), thief("127.0.0.2", server.Port());
  update::GetAuthCodeFtResponse code;
  ASSERT_TRUE(owner.Ask(update::GetAuthCodeFtRequest{}, code));
  ASSERT_EQ(code.result, 0);
  update::DownloadFileInfoExFtRequest use;
  use.authCode = code.authCode;
  use.secretKey = code.secretKey;
  update::DownloadFileInfoExFtResponse answer;
  ASSERT_TRUE(thief.Ask(use, answer));
  EXPECT_EQ(answer.result, update::FAILED);  // another peer's code
  ASSERT_TRUE(owner.Ask(use, answer));
  EXPECT_EQ(answer.result, 0);

  // A greedy peer keeps only its own last few codes; the owner's stays good.
  RawClient greedy("127.0.0.3", server.Port());
  for (int i = 0; i < 100; ++i) {
    update::GetAuthCodeFtResponse r;
    ASSERT_TRUE(greedy.Ask(update::GetAuthCodeFtRequest{}, r));
  }
  EXPECT_EQ(server.CodeCount(), 1 + update_server::UpdateServer::kCodesPerPeer);
  ASSERT_TRUE(owner.Ask(use, answer));
  EXPECT_EQ(answer.result, 0);

  // Unused for longer than its lifetime, a code is gone.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  ASSERT_TRUE(owner.Ask(use, answer));
  EXPECT_EQ(answer.result, update::FAILED);
}

// Instances started with one key file accept each other's codes: from the
// address they were issued to, until they expire, and not when forged.
TEST(UpdateServer, SharedKeyCodesAreAcceptedByEveryInstanceOfTheKey) {
  Published published("update-server-shared");
  const fs::path keyFile = published.root / "shared.key", otherFile = published.root / "other.key";
  std::string error;
  ASSERT_TRUE(update_server::SharedCodes::CreateKeyFile(keyFile, error)) << error;
  ASSERT_TRUE(update_server::SharedCodes::CreateKeyFile(otherFile, error)) << error;
  const auto key = update_server::SharedCodes::Load(keyFile, error);
  const auto other = update_server::SharedCodes::Load(otherFile, error);
  ASSERT_TRUE(key && other) << error;

  // The rule itself.
  std::string code, secret;
  key->Issue("127.0.0.1", 1000, code, secret);
  ASSERT_EQ(code.size(), 16u);
  EXPECT_EQ(key->SecretOf(code, "127.0.0.1", 999), secret);
  EXPECT_FALSE(key->SecretOf(code, "127.0.0.1", 1000));  // expired
  EXPECT_FALSE(key->SecretOf(code, "127.0.0.2", 999));   // another address
  EXPECT_FALSE(other->SecretOf(code, "127.0.0.1", 999));  // another key
  for (size_t i = 0; i < code.size(); i += 5) {
    std::string forged = code;
    forged[i] = forged[i] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(key->SecretOf(forged, "127.0.0.1", 999)) << forged;
  }
  for (const std::string bad : {std::string(), code.substr(1), code + "A", std::string(16, '!')})
    EXPECT_FALSE(key->SecretOf(bad, "127.0.0.1", 999)) << bad;

  // Servers: A issues, B (same key) accepts on both ports, C (another key) does not.
  std::unique_ptr<update_server::UpdateServer> servers[3];
  for (int i = 0; i < 3; ++i) {
    servers[i] = std::make_unique<update_server::UpdateServer>();
    update_server::ServerOptions options;
    options.published = published.root / "published";
    options.sharedCodes = std::make_shared<const update_server::SharedCodes>(i < 2 ? *key : *other);
    ASSERT_TRUE(servers[i]->Start(options, error)) << error;
  }
  RawClient issuer("127.0.0.1", servers[0]->Port());
  update::GetAuthCodeFtResponse issued;
  ASSERT_TRUE(issuer.Ask(update::GetAuthCodeFtRequest{}, issued));
  ASSERT_EQ(issued.result, 0);
  EXPECT_EQ(servers[0]->CodeCount(), 0u);  // kept nowhere: no table to fill
  update::DownloadFileInfoExFtRequest use;
  use.authCode = issued.authCode;
  use.secretKey = issued.secretKey;
  for (const auto& [server, peer, result] : std::vector<std::tuple<int, const char*, int32_t>>{
           {1, "127.0.0.1", update::SUCCESSED}, {2, "127.0.0.1", update::FAILED}, {1, "127.0.0.2", update::FAILED}}) {
    RawClient asker(peer, servers[server]->Port());
    update::DownloadFileInfoExFtResponse answer;
    ASSERT_TRUE(asker.Ask(use, answer));
    EXPECT_EQ(answer.result, result) << "server " << server << " from " << peer;
  }
  RawClient transfer("127.0.0.1", servers[1]->TransferPort());
  ftt::AuthRequest auth{ftt::kProtocolVersion, vx::Utf16ToUtf8(issued.authCode), u"a.bin", u"id",
                        ftt::KeyProof(vx::Utf16ToUtf8(issued.secretKey).c_str(), u"a.bin")};
  ASSERT_TRUE(transfer.Send(ftt::PDU_FTT_AUTH, ftt::EncodeAuthRequest(auth)));
  uint16_t type = 0;
  Bytes body;
  ASSERT_TRUE(transfer.Read(type, body));
  ftt::AuthResponse accepted;
  ASSERT_TRUE(ftt::DecodeAuthResponse(body.data(), body.size(), accepted));
  EXPECT_EQ(accepted.result, ftt::FTTR_OPERATE_SUCCESS);
  EXPECT_GT(accepted.fileLength, 0);
}

// AUTHs in a row on one transfer connection: an accepted one is followed by
// the feature bits and switches the connection to its file; a refused one,
// first or later, closes it.
TEST(UpdateServer, TransferAuthorisationsOnOneConnection) {
  Published published("update-server-reauth");
  update_server::UpdateServer server;
  update_server::ServerOptions options;
  options.published = published.root / "published";
  std::string error;
  ASSERT_TRUE(server.Start(options, error)) << error;
  RawClient control("127.0.0.1", server.Port());
  update::GetAuthCodeFtResponse code;
  ASSERT_TRUE(control.Ask(update::GetAuthCodeFtRequest{}, code));
  const std::string secret = vx::Utf16ToUtf8(code.secretKey);

  enum Auth { Good, WrongKey, Missing, Malformed };
  auto body = [&](Auth kind) {
    const std::u16string key = kind == Missing ? u"missing.bin" : u"a.bin";
    ftt::AuthRequest auth{ftt::kProtocolVersion, vx::Utf16ToUtf8(code.authCode), key, u"id",
                          ftt::KeyProof(kind == WrongKey ? "wrong-secret-key" : secret.c_str(), key)};
    Bytes b = ftt::EncodeAuthRequest(auth);
    if (kind == Malformed) b.resize(b.size() - 3);
    return b;
  };
  const struct {
    const char* name;
    std::vector<Auth> auths;  // the last one is refused unless all are Good
    int32_t refusal;
  } cases[] = {
      {"refused at once", {WrongKey, Good}, ftt::FTTR_ERR_AUTH_DENIED},
      {"switches", std::vector<Auth>(50, Good), 0},
      {"a switch with a wrong key", {Good, Good, WrongKey}, ftt::FTTR_ERR_AUTH_DENIED},
      {"a switch to a missing file", {Good, Missing}, ftt::FTTR_ERR_FILE_NOT_EXIST},
      {"a malformed switch", {Good, Malformed}, ftt::FTTR_ERR_BAD_DATA},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient transfer("127.0.0.1", server.TransferPort());
    uint16_t type = 0;
    Bytes answer;
    for (Auth kind : c.auths) {
      ASSERT_TRUE(transfer.Send(ftt::PDU_FTT_AUTH, body(kind)));
      ASSERT_TRUE(transfer.Read(type, answer));
      ftt::AuthResponse response;
      ASSERT_TRUE(type == ftt::PDU_FTT_AUTH && ftt::DecodeAuthResponse(answer.data(), answer.size(), response));
      if (response.result != 0) {
        EXPECT_EQ(response.result, c.refusal);
        break;
      }
      int32_t features = 0;
      ASSERT_TRUE(transfer.Read(type, answer));
      ASSERT_TRUE(type == ftt::PDU_FTT_FEATURES && ftt::DecodeFeatures(answer.data(), answer.size(), features));
      EXPECT_EQ(features & ftt::kFeatureReauth, ftt::kFeatureReauth);
      ASSERT_TRUE(transfer.Send(ftt::PDU_FTT_DOWNLOAD_REQUEST, ftt::EncodeDownloadRequest({0, 16})));
      ASSERT_TRUE(transfer.Read(type, answer));
      EXPECT_EQ(type, ftt::PDU_FTT_DOWNLOAD_RESPONSE);
      EXPECT_EQ(answer.size(), ftt::kDownloadResponseHeader + 16);
    }
    if (c.refusal == 0) continue;
    transfer.Send(ftt::PDU_FTT_AUTH, body(Good));  // no try after a refusal
    EXPECT_FALSE(transfer.Read(type, answer));
    EXPECT_TRUE(transfer.Ended());
  }

  // Ranges that begin at the end of the file or beyond are answered with an
  // error; the connection stays.
  RawClient transfer("127.0.0.1", server.TransferPort());
  uint16_t type = 0;
  Bytes answer;
  ftt::AuthResponse granted;
  ASSERT_TRUE(transfer.Send(ftt::PDU_FTT_AUTH, body(Good)) && transfer.Read(type, answer));
  ASSERT_TRUE(ftt::DecodeAuthResponse(answer.data(), answer.size(), granted) && granted.result == 0);
  ASSERT_TRUE(transfer.Read(type, answer));  // the feature bits
  for (const int64_t offset : {granted.fileLength, granted.fileLength + 1, granted.fileLength - 1}) {
    ASSERT_TRUE(transfer.Send(ftt::PDU_FTT_DOWNLOAD_REQUEST, ftt::EncodeDownloadRequest({offset, 16})));
    ASSERT_TRUE(transfer.Read(type, answer)) << offset;
    EXPECT_EQ(type, offset < granted.fileLength ? ftt::PDU_FTT_DOWNLOAD_RESPONSE : ftt::PDU_FTT_ERROR) << offset;
  }
}

// At the connection limit, a connection whose requests are all junk holds
// its place less than one whose requests were answered, older as it is.
TEST(UpdateServer, JunkDoesNotKeepAConnectionsPlace) {
  Published published("update-server-junk");
  update_server::UpdateServer server;
  update_server::ServerOptions options;
  options.published = published.root / "published";
  options.controlLimits.maxConnections = 2;
  std::string error;
  ASSERT_TRUE(server.Start(options, error)) << error;
  RawClient answered("127.0.0.1", server.Port());
  update::KeepAliveResponse alive;
  ASSERT_TRUE(answered.Ask(update::KeepAliveRequest{}, alive));
  RawClient junk("127.0.0.2", server.Port());
  ASSERT_TRUE(junk.Send(0x7777, Bytes(8, 1)));
  ASSERT_TRUE(junk.Send(update::QR_UDT_KEEPALIVE, Bytes{3}));  // too short
  ASSERT_TRUE(answered.Ask(update::KeepAliveRequest{}, alive));  // both read by now
  RawClient newcomer("127.0.0.3", server.Port());
  EXPECT_TRUE(newcomer.Ask(update::KeepAliveRequest{}, alive));
  uint16_t type = 0;
  Bytes body;
  EXPECT_FALSE(junk.Read(type, body));
  EXPECT_TRUE(junk.Ended());
  EXPECT_TRUE(answered.Ask(update::KeepAliveRequest{}, alive));
}

TEST(UpdateServer, AFloodOfUnreadRequestsIsBoundedAndLoggedSparingly) {
  Published published("update-server-flood");
  update_server::UpdateServer server;
  update_server::ServerOptions options;
  options.published = published.root / "published";
  std::atomic<size_t> lines{0};
  options.log = [&](const std::string&) { ++lines; };
  std::string error;
  ASSERT_TRUE(server.Start(options, error)) << error;
  RawClient flood("127.0.0.1", server.Port());
  update::EchoRequest echo;
  echo.data = Bytes(1000, 5);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000 && flood.Send(echo); ++i) {
    }
    done = true;
  });
  size_t most = 0;
  while (!done) {
    most = std::max(most, server.QueuedReplyBytes());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  writer.join();
  // 20 MB of answers were asked for; a bounded part is ever held.
  EXPECT_LT(most, size_t(4) << 20);
  EXPECT_LT(lines.load(), 50u);
  // Others are still answered.
  RawClient other("127.0.0.2", server.Port());
  update::KeepAliveResponse alive;
  EXPECT_TRUE(other.Ask(update::KeepAliveRequest{}, alive));
  // An echo that fills a PDU cannot be answered with its result: FAILED.
  update::EchoRequest longest;
  longest.data = Bytes(65531 - (update::Encode(update::EchoRequest{}).size()), 1);
  ASSERT_EQ(update::Encode(longest).size(), 65531u);
  update::EchoResponse answer;
  ASSERT_TRUE(other.Ask(longest, answer));
  EXPECT_EQ(answer.result, update::FAILED);
}
