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

  m_transfer = std::make_unique<ftt::FttSendService>(static_cast<ftt::FileCatalogue&>(*this));
  m_transferPort = options.transferPort;
  if (!m_transfer->Start(options.address, m_transferPort)) {
    error = "cannot listen on " + options.address + ":" + std::to_string(options.transferPort);
    return false;
  }
  auto net = std::make_unique<update::UpdateNetManager>();
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

void UpdateServer::Log(int hConn, const char* request, int32_t result) {
  if (!m_options.log) return;
  const std::string peer = m_net ? m_net->PeerAddress(hConn) : "";
  m_options.log(peer + " #" + std::to_string(hConn) + " " + request + " " + update::ResultName(result));
}

template <class M>
void UpdateServer::Reply(int hConn, const M& message) {
  m_net->SendBody(hConn, uint16_t(M::kType), update::Encode(message));
}

bool UpdateServer::Issued(const std::u16string& authCode, const std::u16string& secretKey) {
  std::lock_guard<std::mutex> g(m_lock);
  auto it = m_codes.find(vx::Utf16ToUtf8(authCode));
  return it != m_codes.end() && it->second == vx::Utf16ToUtf8(secretKey);
}

std::optional<std::string> UpdateServer::SecretKeyOf(const std::string& authCode) {
  std::lock_guard<std::mutex> g(m_lock);
  auto it = m_codes.find(authCode);
  return it == m_codes.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::optional<fs::path> UpdateServer::FileOf(const std::u16string& fileKey) {
  auto it = m_served.find(fileKey);
  return it == m_served.end() ? std::nullopt : std::optional<fs::path>(it->second);
}

void UpdateServer::OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) {
  using namespace update;
  std::lock_guard<std::mutex> g(m_netLock);
  if (error || !m_net) return;
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
      return;
    }
    case QR_UDT_GETAUTHCODE_FT: {
      GetAuthCodeFtRequest request;
      if (!Decode(body, length, request)) break;
      GetAuthCodeFtResponse r;
      {
        static std::mt19937_64 random(std::random_device{}());
        std::lock_guard<std::mutex> g(m_lock);
        const std::string code = RandomCode(random), secret = RandomCode(random);
        if (m_codeOrder.size() >= kMaxCodes) {
          m_codes.erase(m_codeOrder.front());
          m_codeOrder.erase(m_codeOrder.begin());
        }
        m_codes[code] = secret;
        m_codeOrder.push_back(code);
        r.authCode = vx::Utf8ToUtf16(code);
        r.secretKey = vx::Utf8ToUtf16(secret);
      }
      r.port = m_transferPort;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return;
    }
    case QR_UDT_DOWNLOADFILEINFOEX_FT: {
      DownloadFileInfoExFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadFileInfoExFtResponse r;
      if (Issued(request.authCode, request.secretKey))
        r.fileKey = vx::Utf8ToUtf16(kFileListName);
      else
        r.result = FAILED;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return;
    }
    case QR_UDT_DOWNLOADFILE_FT: {
      DownloadFileFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadFileFtResponse r;
      r.nFileID = request.nFileID;
      auto it = m_files.find(request.nFileID);
      if (!Issued(request.authCode, request.secretKey))
        r.result = FAILED;
      else if (it == m_files.end() || !m_served.count(it->second.strFileKey))
        r.result = FILENOTEXIST;
      else
        r.fileKey = it->second.strFileKey;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return;
    }
    case QR_UDT_KEEPALIVE: {
      KeepAliveRequest request;
      if (!Decode(body, length, request)) break;
      Reply(hConn, KeepAliveResponse{});
      return;  // every 3 s per client: not logged
    }
    case QR_UDT_ECHO: {
      EchoRequest request;
      if (!Decode(body, length, request)) break;
      EchoResponse r;
      r.data = request.data;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return;
    }
    case QR_UDT_DOWNLOADFILEINFO_FT: {
      DownloadFileInfoFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadFileInfoFtResponse r;
      r.result = Issued(request.authCode, request.secretKey) ? SUCCESSED : FAILED;
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return;
    }
    case QR_UDT_DOWNLOADUPDATECONTENT_FT: {
      DownloadUpdateContentFtRequest request;
      if (!Decode(body, length, request)) break;
      DownloadUpdateContentFtResponse r;
      r.result = FILENOTEXIST;  // no update notes are published
      Reply(hConn, r);
      Log(hConn, RequestName(type), r.result);
      return;
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
      return;
    }
    default:
      break;
  }
  if (m_options.log)
    m_options.log((m_net ? m_net->PeerAddress(hConn) : std::string()) + " #" + std::to_string(hConn) +
                  " malformed or unknown PDU type " + std::to_string(type) + ", " + std::to_string(length) +
                  " bytes: dropped");
}

}  // namespace update_server
