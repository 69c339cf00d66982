#include "tools/update_server/update_server.h"

#include <fstream>
#include <random>
#include <sstream>

#include "base/fs_path.h"
#include "base/utf16.h"
#include "net/pdu_frame.h"
#include "tools/update_server/publisher.h"

namespace fs = std::filesystem;

namespace update_server {
namespace {

bool ReadAll(const fs::path& p, std::vector<uint8_t>& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

// A file key of the list as a path below `files`: relative, no "..".
std::optional<fs::path> ServedPath(const fs::path& files, const std::u16string& key) {
  std::string text = vx::Utf16ToUtf8(key);
  for (char& c : text)
    if (c == '\\') c = '/';
  const fs::path relative = vx::PathFromUtf8(text);
  if (text.empty() || relative.is_absolute() || relative.has_root_name()) return std::nullopt;
  for (const auto& part : relative)
    if (part == ".." || part == ".") return std::nullopt;
  return files / relative;
}

std::string RandomCode(std::mt19937_64& random) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string code;
  for (int i = 0; i < 16; ++i) code += kDigits[random() % 16];
  return code;
}

}  // namespace

UpdateServer::~UpdateServer() { Stop(); }

update::UpdateNetLimits ServerOptions::ControlLimits() {
  update::UpdateNetLimits limits;
  limits.maxConnections = 512;
  limits.maxPerAddress = 16;
  limits.maxQueuedBytes = 256 << 10;
  limits.maxTotalQueuedBytes = 64 << 20;
  limits.pduDeadlineMs = 30000;
  return limits;
}

void UpdateServer::NetLog::Write(const std::string& message) {
  if (server && server->m_options.log) server->m_options.log(message);
}

bool UpdateServer::Start(const ServerOptions& options, std::string& error) {
  m_options = options;
  const fs::path& root = options.published;
  std::vector<uint8_t> bytes;
  if (!ReadAll(root / "version.txt", bytes)) {
    error = "not a published folder (no version.txt): " + vx::PathToUtf8(root);
    return false;
  }
  std::istringstream version(std::string(bytes.begin(), bytes.end()));
  for (std::string line; std::getline(version, line);) {
    if (line.rfind("version=", 0) == 0) m_version = line.substr(8);
    if (line.rfind("build=", 0) == 0) m_build = std::atoi(line.c_str() + 6);
  }
  std::vector<update::FileInfo> list;
  if (m_version.empty() || !ReadAll(root / kFileListName, bytes) ||
      !update::DecodeFileList(bytes.data(), bytes.size(), list)) {
    error = "the published folder's version or file list is unreadable";
    return false;
  }
  m_served[vx::Utf8ToUtf16(kFileListName)] = root / kFileListName;
  for (const auto& info : list) {
    m_files[info.nFileID] = info;
    if (info.type == update::kFileTypeDirectory || info.type == update::kFileTypeNoDownload) continue;
    const auto path = ServedPath(root / "files", info.strFileKey);
    if (!path) {
      error = "the file list holds an unsafe key: " + vx::Utf16ToUtf8(info.strFileKey);
      return false;
    }
    m_served[info.strFileKey] = *path;
  }

  m_netLog.server = this;
  update::UpdateLog* netLog = options.log ? &m_netLog : nullptr;
  m_transfer = std::make_unique<ftt::FttSendService>(static_cast<ftt::FileCatalogue&>(*this));
  m_transfer->SetLog(netLog);
  m_transfer->SetLimits(options.transferLimits);
  m_transfer->SetTrustedProxies(options.trustedProxies);
  m_transferPort = options.transferPort;
  if (!m_transfer->Start(options.address, m_transferPort)) {
    error = "cannot listen on " + options.address + ":" + std::to_string(options.transferPort);
    return false;
  }
  auto net = std::make_unique<update::UpdateNetManager>(netLog);
  net->SetLimits(options.controlLimits);
  net->SetTrustedProxies(options.trustedProxies);
  m_port = options.port;
  if (!net->Listen(options.address, m_port)) {
    error = "cannot listen on " + options.address + ":" + std::to_string(options.port);
    return false;
  }
  std::lock_guard<std::mutex> g(m_netLock);
  m_net = std::move(net);
  m_net->SetSink(this);
  return true;
}

void UpdateServer::Stop() {
  std::unique_ptr<update::UpdateNetManager> net;
  {
    std::lock_guard<std::mutex> g(m_netLock);
    if (m_net) m_net->SetSink(nullptr);
    net = std::move(m_net);
  }
  net.reset();
  m_transfer.reset();
}

void UpdateServer::LogLine(const std::string& key, const std::string& line) {
  if (!m_options.log) return;
  if (auto kept = m_rate.Filter(key, line)) m_options.log(*kept);
}

void UpdateServer::Log(int hConn, const char* request, int32_t result) {
  if (!m_options.log) return;
  const std::string peer = m_net ? m_net->PeerAddress(hConn) : "";
  LogLine(peer + " " + request,
          peer + " #" + std::to_string(hConn) + " " + request + " " + update::ResultName(result));
}

size_t UpdateServer::QueuedReplyBytes() const {
  return m_net ? m_net->TotalQueuedBytes() : 0;
}

size_t UpdateServer::CodeCount() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_codes.size();
}

template <class M>
bool UpdateServer::Reply(int hConn, const M& message) {
  return m_net->SendBody(hConn, uint16_t(M::kType), update::Encode(message));
}

bool UpdateServer::Issue(const std::string& peer, std::string& code, std::string& secret) {
  if (m_options.sharedCodes) {
    // Nothing is kept: any instance of the key verifies the code, and a
    // table that hostile peers could fill would lock new installs out.
    const uint32_t expiry = SharedCodes::NowMinutes() + uint32_t(m_options.sharedCodeLifetime.count());
    m_options.sharedCodes->Issue(peer, expiry, code, secret);
    return true;
  }
  static std::mt19937_64 random(std::random_device{}());
  std::lock_guard<std::mutex> g(m_lock);
  const auto now = std::chrono::steady_clock::now();
  // Expired codes go; the peer's oldest goes when it holds its share.
  auto oldest = m_codes.end();
  size_t ofPeer = 0;
  for (auto it = m_codes.begin(); it != m_codes.end();) {
    if (now - it->second.used > m_options.codeLifetime) {
      it = m_codes.erase(it);
      continue;
    }
    if (it->second.peer == peer) {
      ++ofPeer;
      if (oldest == m_codes.end() || it->second.issued < oldest->second.issued) oldest = it;
    }
    ++it;
  }
  if (ofPeer >= kCodesPerPeer && oldest != m_codes.end()) m_codes.erase(oldest);
  if (m_codes.size() >= kMaxCodes) return false;
  do code = RandomCode(random);
  while (m_codes.count(code));
  secret = RandomCode(random);
  m_codes[code] = Code{secret, peer, now, now};
  return true;
}

bool UpdateServer::Issued(const std::u16string& authCode, const std::u16string& secretKey, const std::string& peer) {
  if (m_options.sharedCodes) {
    const auto secret = SecretKeyOf(vx::Utf16ToUtf8(authCode), peer);
    const std::string given = vx::Utf16ToUtf8(secretKey);
    if (!secret || secret->size() != given.size()) return false;
    unsigned char differ = 0;  // in constant time
    for (size_t i = 0; i < given.size(); ++i) differ |= (unsigned char)((*secret)[i] ^ given[i]);
    return differ == 0;
  }
  std::lock_guard<std::mutex> g(m_lock);
  auto it = m_codes.find(vx::Utf16ToUtf8(authCode));
  if (it == m_codes.end() || it->second.peer != peer) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - it->second.used > m_options.codeLifetime) {
    m_codes.erase(it);
    return false;
  }
  if (it->second.secret != vx::Utf16ToUtf8(secretKey)) return false;
  it->second.used = now;
  return true;
}

std::optional<std::string> UpdateServer::SecretKeyOf(const std::string& authCode, const std::string& peer) {
  if (m_options.sharedCodes) return m_options.sharedCodes->SecretOf(authCode, peer, SharedCodes::NowMinutes());
  std::lock_guard<std::mutex> g(m_lock);
  auto it = m_codes.find(authCode);
  if (it == m_codes.end() || it->second.peer != peer) return std::nullopt;
  const auto now = std::chrono::steady_clock::now();
  if (now - it->second.used > m_options.codeLifetime) {
    m_codes.erase(it);
    return std::nullopt;
  }
  it->second.used = now;
  return it->second.secret;
}

std::optional<vx::FilePath> UpdateServer::FileOf(const std::u16string& fileKey) {
  auto it = m_served.find(fileKey);
  return it == m_served.end() ? std::nullopt : std::optional<vx::FilePath>(it->second);
}

bool UpdateServer::Answer(int hConn, const std::string& peer, uint16_t type, const uint8_t* body, uint16_t length) {
  using namespace update;
  switch (type) {
    case QR_UDT_GETVERSIONINFO:
    case QR_UDT_GETVERSIONINFOEX: {
      GetVersionInfoExRequest ex;
      GetVersionInfoRequest plain;
      if (type == QR_UDT_GETVERSIONINFOEX ? !Decode(body, length, ex) : !Decode(body, length, plain)) break;
      GetVersionInfoResponse r;
      r.version.text1 = u"Quorin update server";
      r.version.build = m_build;
      r.version.fileListName = vx::Utf8ToUtf16(kFileListName);
      r.version.versionString = vx::Utf8ToUtf16(m_version);
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return true;
    }
    case QR_UDT_GETAUTHCODE_FT: {
      GetAuthCodeFtRequest request;
      if (!Decode(body, length, request)) break;
      GetAuthCodeFtResponse r;
      std::string code, secret;
      if (Issue(peer, code, secret)) {
        r.authCode = vx::Utf8ToUtf16(code);
        r.secretKey = vx::Utf8ToUtf16(secret);
      } else {
        r.result = FAILED;  // the table is full of live codes
      }
      r.port = m_transferPort;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return true;
    }
    case QR_UDT_DOWNLOADFILEINFOEX_FT: {
      DownloadFileInfoExFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadFileInfoExFtResponse r;
      if (Issued(request.authCode, request.secretKey, peer))
        r.fileKey = vx::Utf8ToUtf16(kFileListName);
      else
        r.result = FAILED;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return true;
    }
    case QR_UDT_DOWNLOADFILE_FT: {
      DownloadFileFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadFileFtResponse r;
      r.nFileID = request.nFileID;
      auto it = m_files.find(request.nFileID);
      if (!Issued(request.authCode, request.secretKey, peer))
        r.result = FAILED;
      else if (it == m_files.end() || !m_served.count(it->second.strFileKey))
        r.result = FILENOTEXIST;
      else
        r.fileKey = it->second.strFileKey;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return true;
    }
    case QR_UDT_KEEPALIVE: {
      KeepAliveRequest request;
      if (!Decode(body, length, request)) break;
      Reply(hConn, KeepAliveResponse{});
      return true;  // every 3 s per client: not logged
    }
    case QR_UDT_ECHO: {
      EchoRequest request;
      if (!Decode(body, length, request)) break;
      EchoResponse r;
      r.data = request.data;
      if (!Reply(hConn, r)) {  // the echo does not fit in one PDU with its result
        r.result = FAILED;
        r.data.clear();
        Reply(hConn, r);
      }
      Log(hConn, RequestName(type), r.result);
      return true;
    }
    case QR_UDT_DOWNLOADFILEINFO_FT: {
      DownloadFileInfoFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadFileInfoFtResponse r;
      r.result = Issued(request.authCode, request.secretKey, peer) ? SUCCESSED : FAILED;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return true;
    }
    case QR_UDT_DOWNLOADUPDATECONTENT_FT: {
      DownloadUpdateContentFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadUpdateContentFtResponse r;
      r.result = FILENOTEXIST;  // no update notes are published
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return true;
    }
    case QR_UDT_DOWNLOADFILEINFO:
    case QR_UDT_DOWNLOADFILE: {
      DownloadFileRequest request;
      DownloadFileInfoRequest infoRequest;
      if (type == QR_UDT_DOWNLOADFILE ? !Decode(body, length, request) : !Decode(body, length, infoRequest)) break;
      // Block transfers are superseded by the file-transfer service.
      if (type == QR_UDT_DOWNLOADFILE) {
        DownloadFileResponse r;
        r.result = FAILED;
        Reply(hConn, r);
      } else {
        DownloadFileInfoResponse r;
        r.result = FAILED;
        Reply(hConn, r);
      }
      Log(hConn, RequestName(type), FAILED);
      return true;
    }
    default:
      break;
  }
  return false;
}

void UpdateServer::OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) {
  using namespace update;
  std::lock_guard<std::mutex> g(m_netLock);
  if (error || !m_net) return;
  const std::string peer = m_net->PeerAddress(hConn);
  // A client that asks without reading the answers would make us queue them
  // without end: its reading already waits; past this bound it goes.
  if (m_net->QueuedBytes(hConn) > kMaxQueuedReplyBytes) {
    m_net->Close(hConn);
    LogLine(peer + " unread", peer + " #" + std::to_string(hConn) + " closed: " +
                                  std::to_string(m_net->QueuedBytes(hConn)) + " bytes of replies not read");
    return;
  }
  if (Answer(hConn, peer, type, body, length)) {
    m_net->MarkActive(hConn);  // only requests answered keep a connection's place
    return;
  }
  LogLine(peer + " malformed", peer + " #" + std::to_string(hConn) + " malformed or unknown PDU type " +
                                   std::to_string(type) + ", " + std::to_string(length) + " bytes: dropped");
}

}  // namespace update_server
