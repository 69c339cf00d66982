#include "update/update_install.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "base/file_ops.h"
#include "base/binary_file.h"
#include "base/fs_path.h"
#include "base/path_join.h"
#include "base/utf16.h"
#include "update/ftt_types.h"
#include "update/file_key_rules.h"
#include "update/ftt_types.h"
#include "update/local_path.h"
#include "update/update_log.h"


namespace update {
namespace {

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

void CopyCut(char* out, size_t width, const std::u16string& text) {
  std::fill(out, out + width, 0);
  const std::string utf8 = vx::Utf16ToUtf8(text);
  std::copy_n(utf8.begin(), std::min(utf8.size(), width), out);
}

std::u16string Cut(const std::u16string& text, size_t n) { return text.substr(0, std::min(text.size(), n)); }

}  // namespace

std::vector<ServerEntry> ParseServerList(std::u16string_view text) {
  std::vector<ServerEntry> out;
  const std::string all = vx::Utf16ToUtf8(text);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    const std::string item = Trimmed(all.substr(start, end - start));
    const size_t colon = item.rfind(':');
    if (colon == std::string::npos || colon == 0) break;
    const std::string port = Trimmed(item.substr(colon + 1));
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
      break;
    const unsigned long value = std::stoul(port);
    if (value == 0 || value > 65535) break;
    ServerEntry e;
    e.address = Trimmed(item.substr(0, colon));
    e.port = uint16_t(value);
    out.push_back(e);
    start = end + 1;
  }
  return out;
}

int32_t ProductNumber(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > INT32_MAX) return negative ? INT32_MIN : INT32_MAX;
  }
  return int32_t(negative ? -value : value);
}

UpdateInstall::UpdateInstall(UpdateInstallHost& host, vx::FilePath temporaryFolder, UpdateLog* log)
    : m_host(host),
      m_log(log),
      m_alive(std::make_shared<std::atomic<bool>>(true)),
      m_temporaryFolder(std::move(temporaryFolder)),
      m_workers(log),
      m_net(log) {
  m_net.SetSink(this);
  m_ftt.FttMgrStart();
  m_ftt.SetNoticeSink(this);
}

UpdateInstall::~UpdateInstall() {
  *m_alive = false;
  m_host.StopTimer(kWatchdogTimer);
  m_host.StopTimer(kKeepAliveTimer);
  m_host.StopTimer(kRetryTimer);
  m_bDisconnectRequested = true;
  m_ftt.SetNoticeSink(nullptr);
  m_net.SetSink(nullptr);
  m_net.CloseAll();
  m_ftt.FttMgrStop();
  m_workers.JoinAll();
}

void UpdateInstall::Post(std::function<void()> task) {
  std::weak_ptr<std::atomic<bool>> alive = m_alive;
  m_host.PostToMain([alive, task = std::move(task)] {
    auto a = alive.lock();
    if (a && *a) task();
  });
}

// --- finding and connecting the server -----------------------------------

void UpdateInstall::SetServerList(std::u16string_view text) {
  m_servers = ParseServerList(text);
  m_serverIndex = 0;
}

void UpdateInstall::SetAddressServerList(std::u16string_view text, unsigned queryMs, unsigned pauseMs) {
  std::vector<std::pair<std::string, uint16_t>> servers;
  for (const ServerEntry& e : ParseServerList(text)) servers.emplace_back(e.address, e.port);
  char line[96];
  std::snprintf(line, sizeof line, "[SetAddressServerList] %zu address servers", servers.size());
  m_host.Trace(line);
  m_addressClient = std::make_unique<AddressServerClient>(m_addressAnswers);
  m_addressClient->Start(std::move(servers), m_nProductNumber, queryMs, pauseMs);
}

void UpdateInstall::OnGetUpgrateServerAddress(int result, const std::vector<std::string>& addresses) {
  if (result != 0 || addresses.empty()) {
    Fatal(10000, m_scheduler.Downloading() ? 1 : 0);
    return;
  }
  std::string joined;
  for (const std::string& a : addresses) joined += (joined.empty() ? "" : ",") + a;
  SetServerList(vx::Utf8ToUtf16(joined));
  ConnectUpdateSrv();
}

void UpdateInstall::OnConnectError(int error) {
  if (error != 0) Fatal(10061, m_scheduler.Downloading() ? 1 : 0);
}

void UpdateInstall::ConnectUpdateSrv() {
  if (m_bStopped) return;
  if (m_servers.empty()) {  // nothing to try: said at once rather than waited for
    m_host.Trace("[_ConnectUpdateSrv] no usable server address");
    Fatal(10000, m_scheduler.Downloading() ? 1 : 0);
    return;
  }
  ServerEntry& server = m_servers[m_serverIndex];
  char line[160];
  std::snprintf(line, sizeof line, "[_ConnectUpdateSrv] IP = %s ,lPort = %d", server.address.c_str(), server.port);
  m_host.Trace(line);
  m_bDisconnectRequested = false;
  const int h = m_net.CreateConnection(server.address, server.port);
  server.hConn = h;
  if (h < 0 || !m_net.Connect(h, server.address, server.port)) {
    std::snprintf(line, sizeof line, "[CreateSocket] hConn = %d", h);
    m_host.Trace(line);
    if (h >= 0) m_net.Close(h);
    // No connect under way means no event: count it as a failed attempt.
    Post([this, h] { OnSUConnect(10049, h); });
  }
}

void UpdateInstall::OnConnect(int error, int hConn) {
  Post([this, error, hConn] { OnSUConnect(error, hConn); });
}

void UpdateInstall::OnSUConnect(int error, int hConn) {
  char line[96];
  std::snprintf(line, sizeof line, "[OnSUConnect] iError = %d,hConn = %d", error, hConn);
  m_host.Trace(line);
  if (m_bStopped) return;
  if (error != 0) {
    ConnectFailed(error);
    return;
  }
  // The attempts count on until the server answers: one that accepts and
  // closes must not start the cycle afresh.
  m_bAnswered = false;
  m_bTransferFailedThisCycle = false;
  if (m_ftt.ReceivedBytes() != m_receivedAtCycleStart) m_nTransferFailures = 0;  // the last cycle got data
  m_receivedAtCycleStart = m_ftt.ReceivedBytes();
  {
    std::lock_guard<std::mutex> g(m_connLock);
    m_MainConn = hConn;
  }
  GetVersionInfoExRequest request;
  request.productNumber = m_nProductNumber;
  m_versionSentAt = StallWatch::Clock::now();
  Send(request);
  m_host.StartTimer(kKeepAliveTimer, kKeepAliveMs);
}

void UpdateInstall::ConnectFailed(int error) {
  if (m_nConnectAttempts <= kMaxConnectRetries) {
    ++m_nConnectAttempts;
    // The next attempt after a pause that doubles: a server that restarts
    // gets its time, and a busy one is not hammered.
    const unsigned pause = std::min(m_longestRetryMs, m_retryMs << std::min(m_nConnectAttempts - 1, 16));
    m_host.StartTimer(kRetryTimer, pause);
    return;
  }
  if (m_serverIndex + 1 < m_servers.size()) {
    // This server's attempts are spent: the next of the list gets as many.
    ++m_serverIndex;
    m_nConnectAttempts = 1;
    m_nTransferFailures = 0;
    m_host.StartTimer(kRetryTimer, m_retryMs);
    return;
  }
  m_host.StopTimer(kWatchdogTimer);
  m_host.StopTimer(kKeepAliveTimer);
  Fatal(error, m_scheduler.Downloading() ? 1 : 0);
}

// The connection ended or stayed silent before the server's first answer.
void UpdateInstall::DropUnansweredConnection() {
  int old;
  {
    std::lock_guard<std::mutex> g(m_connLock);
    old = m_MainConn;
    m_MainConn = -1;
  }
  if (old != -1) m_net.Close(old);
  m_host.StopTimer(kKeepAliveTimer);
  m_iIsAlive = 0;
}

void UpdateInstall::OnSUDisconnect(int, int hConn) {
  if (hConn != m_MainConn || m_bDisconnectRequested || m_bStopped) return;
  if (!m_bAnswered) {
    m_host.Trace("[OnSUDisconnect] closed before any answer");
    if (m_log) m_log->Write("[ERROR] the update server closed the connection before any answer");
    DropUnansweredConnection();
    ConnectFailed(kUnreachableCode);
    return;
  }
  ReConnect();
}

void UpdateInstall::TransferServiceFailed() {
  if (m_ftt.ReceivedBytes() != m_receivedAtCycleStart) {
    // Data flowed in this cycle: a passing fault, not an unreachable service.
    m_nTransferFailures = 0;
    ReConnect();
    return;
  }
  if (m_bTransferFailedThisCycle) return;  // every task of the cycle reports it
  m_bTransferFailedThisCycle = true;
  m_host.Trace("[Transfer] the transfer service cannot be reached");
  if (m_log) m_log->Write("[ERROR] the transfer service cannot be reached");
  if (++m_nTransferFailures < kTransferCycles) {
    ReConnect();
    return;
  }
  m_nTransferFailures = 0;
  if (m_serverIndex + 1 < m_servers.size()) {
    ++m_serverIndex;
    ReConnect();
    return;
  }
  Fatal(kUnreachableCode, m_scheduler.Downloading() ? 1 : 0);
}

void UpdateInstall::ReConnect() {
  m_scheduler.m_iReConnect = 0;
  if (m_nConnectAttempts != 0 || m_bStopped) return;
  m_host.Trace("[ReConnect]");
  if (m_log) m_log->Write("[ReConnect]");
  m_askedAhead.clear();
  m_answeredAhead.clear();
  m_nConnectAttempts = 1;
  m_iIsAlive = 0;
  m_stall.Suspend();
  m_scheduler.ConnectionsLost();
  RemoveAllTasks();
  int old;
  {
    std::lock_guard<std::mutex> g(m_connLock);
    old = m_MainConn;
    m_MainConn = -1;
  }
  if (old != -1) m_net.Close(old);
  ConnectUpdateSrv();
}

void UpdateInstall::DisconnectUpdateSrv() {
  m_bDisconnectRequested = true;
  m_stall.Suspend();
  m_scheduler.ConnectionsLost();
  RemoveAllTasks();
  {
    std::lock_guard<std::mutex> g(m_connLock);
    m_MainConn = -1;
  }
  m_net.CloseAll();
}

void UpdateInstall::Fatal(int code, int downloading) {
  if (m_bStopped) return;
  m_bStopped = true;
  m_host.StopTimer(kWatchdogTimer);
  m_host.StopTimer(kKeepAliveTimer);
  m_host.StopTimer(kRetryTimer);
  m_host.ShowErrorMsg(code, downloading);
}

template <class M>
bool UpdateInstall::Send(const M& message) {
  std::lock_guard<std::mutex> g(m_connLock);
  if (m_MainConn == -1) return false;
  const std::vector<uint8_t> body = Encode(message);
  return !body.empty() && m_net.SendBody(m_MainConn, uint16_t(M::kType), body);
}

void UpdateInstall::OnTimer(int id) {
  if (m_bStopped) return;
  if (id == kRetryTimer) {
    m_host.StopTimer(kRetryTimer);
    ConnectUpdateSrv();
  } else if (id == kKeepAliveTimer) {
    if (m_iIsAlive > 0 && !m_bAnswered && m_MainConn != -1) {
      m_host.Trace("[TIMER_KEEP_ALIVE] no answer since the connect");
      DropUnansweredConnection();
      ConnectFailed(10060);
    } else if (m_iIsAlive > 0) {
      char line[64];
      std::snprintf(line, sizeof line, "[TIMER_KEEP_ALIVE] ReConnect,iIsAlive = %d", m_iIsAlive);
      m_host.Trace(line);
      ReConnect();
    } else if (m_MainConn != -1) {
      if (Send(KeepAliveRequest{})) ++m_iIsAlive;
    }
  } else if (id == kWatchdogTimer) {
    // Bytes count as a notice: a large file on a slow link moves its
    // progress less often than the watchdog ticks.
    if (m_stall.Grew(m_ftt.ReceivedBytes())) m_scheduler.m_iReConnect = 0;
    if (!m_stall.Counting(StallWatch::Clock::now())) return;
    if (m_scheduler.WatchdogTick()) ReConnect();
  }
}

void UpdateInstall::StartDownload(uint32_t files, uint32_t connections) {
  m_stall.Restart(StallWatch::Clock::now());
  m_scheduler.StartDownload(files, connections);
}

std::string UpdateInstall::SpeedTick() {
  const DownloadSpeed::Tick t = m_speed.OnTick(m_scheduler.DownloadedBytes());
  // The shown figure follows the files' progress; whether the downloads
  // stalled follows the bytes received, counted once data could flow.
  if (m_scheduler.Downloading() && m_stall.SpeedTick(StallWatch::Clock::now(), m_ftt.ReceivedBytes())) {
    m_host.Trace("[Speed] no data: ReConnect");
    ReConnect();
  }
  if (t.skipped) return {};
  return FormatSize(t.speed);
}

// --- the protocol ---------------------------------------------------------

void UpdateInstall::OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) {
  if (error) {  // the connection is gone
    Post([this, error, hConn] { OnSUDisconnect(error, hConn); });
    return;
  }
  std::vector<uint8_t> copy(body, body + length);
  Post([this, hConn, type, copy = std::move(copy)] {
    if (hConn == m_MainConn) OnMessage(type, copy);
  });
}

void UpdateInstall::OnMessage(uint16_t type, const std::vector<uint8_t>& body) {
  if (m_bStopped) return;
  if (!m_bAnswered) {  // the server answers: this connect attempt succeeded
    m_bAnswered = true;
    m_nConnectAttempts = 0;
  }
  const uint8_t* d = body.data();
  const size_t n = body.size();
  switch (type) {
    case QR_UDT_GETVERSIONINFO: {
      GetVersionInfoResponse r;
      if (Decode(d, n, r)) OnGetVersionInfo(r);
      break;
    }
    case QR_UDT_KEEPALIVE: {
      KeepAliveResponse r;
      if (Decode(d, n, r) && m_iIsAlive > 0) --m_iIsAlive;
      break;
    }
    case QR_UDT_GETAUTHCODE_FT: {
      GetAuthCodeFtResponse r;
      if (Decode(d, n, r)) OnAuthCode(r);
      break;
    }
    case QR_UDT_DOWNLOADFILE_FT: {
      DownloadFileFtResponse r;
      if (Decode(d, n, r)) OnDownloadFileFT(r);
      break;
    }
    case QR_UDT_DOWNLOADFILEINFOEX_FT: {
      DownloadFileInfoExFtResponse r;
      if (Decode(d, n, r)) OnDownloadFileInfoExFT(r);
      break;
    }
    case QR_UDT_DOWNLOADFILEINFO_FT: {
      DownloadFileInfoFtResponse r;
      if (!Decode(d, n, r)) break;  // malformed: dropped
      if (r.result != 0) {
        m_host.Trace("[OnDownloadFileInfoFT] result = " + std::to_string(r.result));
      } else if (!m_ftt.IsExistTask(true, u".\\FileInfo.info")) {
        m_strFileListKey = u".\\FileInfo.info";
        if (m_ftt.CreateRecvTask(m_strFileListKey, false, m_fileListPath, 0, 0, true, u"") == 0) {
          m_tasks[m_strFileListKey] = 0;
          AddNodeTo(m_strFileListKey, 1);
        }
      }
      break;
    }
    case QR_UDT_DOWNLOADUPDATECONTENT_FT: {
      DownloadUpdateContentFtResponse r;
      if (!Decode(d, n, r)) break;
      if (r.result != 0) {
        m_host.Trace("[OnDownloadUpdateContentFT] result = " + std::to_string(r.result));
      } else if (!r.fileKey.empty() && !m_ftt.IsExistTask(true, r.fileKey)) {
        if (m_ftt.CreateRecvTask(r.fileKey, false, m_updateContentPath, 0, 0, true, u"") == 0) {
          m_tasks[r.fileKey] = 0;
          AddNodeTo(r.fileKey, 1);
        }
      }
      break;
    }
    default:
      break;  // DOWNLOADFILEINFO, DOWNLOADFILE and ECHO answers are not used
  }
}

void UpdateInstall::OnGetVersionInfo(const GetVersionInfoResponse& r) {
  if (m_versionSentAt != StallWatch::Clock::time_point{}) {
    m_stall.RoundTrip(StallWatch::Clock::now() - m_versionSentAt);
    m_versionSentAt = {};
  }
  const std::u16string version = r.version.versionString + vx::Utf8ToUtf16(std::to_string(r.version.build));
  if (m_strFileVer.empty()) {
    m_strFileVer = version;
  } else if (m_strFileVer != version) {
    // The product on the server changed under this install: files of two
    // versions must not be mixed, and reconnecting cannot help.
    m_host.Trace("[OnGetVersionInfo] version changed: " + vx::Utf16ToUtf8(version));
    m_bDisconnectRequested = true;
    RemoveAllTasks();
    {
      std::lock_guard<std::mutex> g(m_connLock);
      m_MainConn = -1;
    }
    m_net.CloseAll();
    Fatal(kVersionChangedCode, 0);
    return;
  }
  m_version = r.version;
  const std::u16string name = NormaliseFileKey(r.version.fileListName);
  std::string reason;
  if (!CheckFileKey(name, reason)) {
    m_host.Trace("[OnGetVersionInfo] " + reason);
    Fatal(kBadFileListCode, 0);
    return;
  }
  m_fileListPath = m_temporaryFolder / LocalPath(name + u".udt!");
  m_updateContentPath = m_temporaryFolder / vx::PathFromUtf8("updatecontent.txt");
  Send(GetAuthCodeFtRequest{});
}

void UpdateInstall::OnAuthCode(const GetAuthCodeFtResponse& r) {
  if (r.result != 0) return;
  RemoveAllTasks();
  m_ftt.SetTransferService(m_net.PeerAddress(m_MainConn), r.port);
  m_authCode = Cut(r.authCode, ftt::FTT_AUTH_CODE_LENGTH);
  m_secretKey = Cut(r.secretKey, ftt::FTT_SECRET_KEY_LENGTH);
  m_node = ftt::NodeRecord{};
  m_node.ulSize = sizeof(ftt::NodeRecord);
  m_node.nMaxConnCnt = 1;
  CopyCut(m_node.authCode, sizeof m_node.authCode, m_authCode);
  CopyCut(m_node.szSecretKey, sizeof m_node.szSecretKey, m_secretKey);
  DownloadFileInfoExFtRequest request;
  request.authCode = m_authCode;
  request.secretKey = m_secretKey;
  Send(request);
}

void UpdateInstall::OnDownloadFileInfoExFT(const DownloadFileInfoExFtResponse& r) {
  m_strFileListKey = r.fileKey;
  if (r.result != 0) {
    m_host.Trace(std::string("[ERROR] OnDownloadFileInfoExFT() result = ") + ResultName(r.result) + ".");
    return;
  }
  if (r.fileKey.empty()) return;
  vx::CreateFolders(m_fileListPath.parent_path());
  if (!m_ftt.IsExistTask(true, r.fileKey)) {
    if (m_ftt.CreateRecvTask(r.fileKey, false, m_fileListPath, 0, 0, true, u"") != 0) return;
    m_tasks[r.fileKey] = 0;
  }
  AddNodeTo(r.fileKey, 1);
}

void UpdateInstall::AddNodeTo(const std::u16string& key, int connections) {
  if (m_ftt.AddNode(true, key, m_node) != 0) return;
  const int node = m_tasks[key]++;
  if (connections > 1) m_ftt.SetNodeMaxConnectionCnt(true, key, node, connections);
}

void UpdateInstall::OnDownloadFileFT(const DownloadFileFtResponse& r) {
  DownloadEntry* e = m_files.Find(r.nFileID);
  const int32_t result = e ? r.result : FILENOTEXIST;
  if (m_askedAhead.erase(r.nFileID) && e && e->eFileStatus == kFileWaiting) {
    if (result == 0) m_answeredAhead[r.nFileID] = r;  // kept for its turn; a refusal is asked again then
    return;
  }
  if (result != 0 || e->eFileStatus != kFileRequested) {
    m_host.Trace("[OnDownloadFileFT] nFileID = " + std::to_string(r.nFileID) + " result = " + ResultName(result));
    return;
  }
  const std::u16string& key = e->info.strFileKey;
  if (!m_ftt.IsExistTask(true, key)) {
    m_removing.erase(key);
    const uint16_t created =
        m_ftt.CreateRecvTask(key, false, LocalPath(e->tempPath), 0, uintptr_t(e->info.nFileID), true, e->info.fileIdText);
    if (created != 0) {
      m_host.Trace("[OnDownloadFileFT] CreateRecvTask " + std::string(ftt::ResultName(created)));
      return;
    }
    m_tasks[key] = 0;
  }
  m_scheduler.MarkRunning(e->info.nFileID);
  AddNodeTo(key, e->connections);
  m_stall.TransferStarted(StallWatch::Clock::now());
}

// --- transfer notices -----------------------------------------------------

void UpdateInstall::OnNoticeTaskStatus(const ftt::TaskNotice& notice) {
  // The transfer thread only hands the notice over.
  Post([this, notice] { OnNotice(notice); });
}

void UpdateInstall::OnNotice(const ftt::TaskNotice& n) {
  if (m_bStopped) return;
  if (n.result == ftt::FTTR_ERR_OPERATE_ABORT && n.node < 0) {
    // Our own removals end with an abort notice; any other abort of a whole
    // task is reported.
    if (m_removing.erase(n.fileKey)) return;
    if (!m_tasks.count(n.fileKey)) return;
    Fatal(ftt::FTTR_ERR_OPERATE_ABORT, m_scheduler.Downloading() ? 1 : 0);
    return;
  }
  if (!m_tasks.count(n.fileKey)) return;  // a task removed since
  if (n.result == ftt::FTTR_ERR_FTT_SOCKET_CONNECT_FAILED || n.result == ftt::FTTR_ERR_TASK_CONNECT_TIME_OUT) {
    TransferServiceFailed();
    return;
  }
  if (!m_strFileListKey.empty() && n.fileKey == m_strFileListKey) {
    if (n.result == ftt::FTTR_ERR_PROGRESS && n.progress == ftt::NEDDISK_RATE) OnFileListComplete();
    else if (n.result != ftt::FTTR_ERR_PROGRESS)
      m_host.Trace("[FileList] result " + std::string(ftt::ResultName(n.result)));
    return;
  }
  TransferNotice t;
  t.taskType = n.taskType;
  t.result = n.result;
  t.fileKey = n.fileKey;
  t.node = n.node;
  t.progress = n.progress;
  t.currentLength = n.currentLength;
  m_scheduler.NoticeTaskStatus(t);
}

void UpdateInstall::OnFileListComplete() {
  if (m_scheduler.Downloading()) {
    m_stall.Restart(StallWatch::Clock::now());
    m_scheduler.ReStartDownload(5, 5);
    return;
  }
  if (!LoadFileList()) return;
  m_host.FileListLoaded(!m_bViewFilled);
  m_bViewFilled = true;
  m_host.OnlineClientConnected();
}

bool UpdateInstall::LoadFileList() {
  std::vector<uint8_t> bytes;
  std::string error;
  if (vx::FileSize(m_fileListPath) > int64_t(kMaxFileListBytes)) {
    error = "the file list is larger than " + std::to_string(kMaxFileListBytes >> 20) + " MiB";  // not read
  } else if (const auto text = vx::ReadWholeFile(m_fileListPath)) {
    bytes.assign(text->begin(), text->end());
  }
  if (!error.empty() || !m_files.Load(bytes.data(), bytes.size(), m_strInstallDir, error)) {
    m_host.Trace("[LoadFileList] " + error);
    if (m_log) m_log->Write("[ERROR] file list refused: " + error);
    Fatal(kBadFileListCode, 0);
    return false;
  }
  return true;
}

// --- the install directory and the downloads --------------------------------

void UpdateInstall::SetInstallDirectory(std::u16string_view directory) {
  m_strInstallDir = vx::WithTrailingBackslash(directory);
}

bool UpdateInstall::ReloadFileList() {
  // Nothing downloaded yet (no server reached): nothing to reload.
  if (m_fileListPath.empty()) return false;
  return LoadFileList();
}

bool UpdateInstall::CreateDirectories() {
  bool ok = true;
  for (int32_t id : m_files.m_lstDirectories) {
    const DownloadEntry* e = m_files.Find(id);
    if (e && !vx::CreateFolders(LocalPath(e->finalPath))) ok = false;
  }
  return ok;
}

std::u16string UpdateInstall::FileListCopyKey() const {
  const std::u16string key = NormaliseFileKey(m_strFileListKey);
  std::string reason;
  return CheckFileKey(key, reason) ? key : std::u16string();
}

void UpdateInstall::RequestFile(const DownloadEntry& e) {
  const int32_t id = e.info.nFileID;
  if (auto it = m_answeredAhead.find(id); it != m_answeredAhead.end()) {
    // Answered already: handled as the answer once the file counts as requested.
    const DownloadFileFtResponse answer = it->second;
    m_answeredAhead.erase(it);
    Post([this, answer] { OnDownloadFileFT(answer); });
    return;
  }
  if (m_askedAhead.count(id)) return;  // its answer is on the way
  SendFileRequest(e);
}

void UpdateInstall::RequestAhead(const DownloadEntry& e) {
  const int32_t id = e.info.nFileID;
  if (m_askedAhead.count(id) || m_answeredAhead.count(id)) return;
  m_askedAhead.insert(id);
  SendFileRequest(e);
}

void UpdateInstall::SendFileRequest(const DownloadEntry& e) {
  DownloadFileFtRequest request;
  request.nFileID = e.info.nFileID;
  request.flag = 1;
  request.authCode = m_authCode;
  request.secretKey = m_secretKey;
  request.strFileKey = e.info.strFileKey;
  Send(request);
}

void UpdateInstall::SetTaskConnections(const DownloadEntry& e, int count) {
  auto it = m_tasks.find(e.info.strFileKey);
  if (it == m_tasks.end() || it->second == 0) return;  // the task comes with its count
  m_ftt.SetNodeMaxConnectionCnt(true, e.info.strFileKey, it->second - 1, count);
}

bool UpdateInstall::PrepareFolder(const DownloadEntry& e) {
  const vx::FilePath parent = LocalPath(e.tempPath).parent_path();
  return vx::CreateFolders(parent);
}

bool UpdateInstall::TemporaryFileExists(const DownloadEntry& e) {
  return vx::PathExists(LocalPath(e.tempPath));
}

void UpdateInstall::RemoveTask(const DownloadEntry& e) {
  const std::u16string& key = e.info.strFileKey;
  if (!m_tasks.count(key)) return;
  m_removing.insert(key);
  m_tasks.erase(key);
  m_ftt.RemoveTask(true, key);
}

void UpdateInstall::RemoveAllTasks() {
  for (const auto& [key, nodes] : m_tasks) {
    m_removing.insert(key);
    m_ftt.RemoveTask(true, key);
  }
  m_tasks.clear();
}

void UpdateInstall::DiscardDownload(const DownloadEntry& e) {
  vx::RemovePath(LocalPath(e.tempPath));
  vx::RemovePath(ftt::VX_FtTaskMgr::TemporaryFile(LocalPath(e.tempPath)));
}

void UpdateInstall::StartDecoding(const DownloadEntry& e) {
  DecodeJob job;
  job.nFileID = e.info.nFileID;
  job.temporary = LocalPath(e.tempPath);
  job.final = LocalPath(e.finalPath);
  job.expectedSize = uint64_t(e.info.size);
  job.expectedDigest = DigestOfIdentity(e.info.fileIdText);
  m_workers.Start(std::move(job), [this](int32_t id, bool ok, const std::string& error) {
    if (!ok) m_host.Trace("[Decode] " + error);
    Post([this, id, ok] { m_scheduler.OnFileDecoded(id, ok); });
  });
}

void UpdateInstall::DownloadFailed(const DownloadEntry& e, int code) {
  m_host.Trace("[DownloadFailed] " + vx::Utf16ToUtf8(e.key) + " code " + std::to_string(code));
  Fatal(code, 1);
}

void UpdateInstall::OnAllFilesDone() {
  m_host.Trace("All files download over.");
  m_host.StopTimer(kWatchdogTimer);
  m_host.StopTimer(kKeepAliveTimer);
  DisconnectUpdateSrv();
  m_workers.JoinAll();
  const std::u16string key = FileListCopyKey();
  if (!key.empty() && !m_strInstallDir.empty()) {
    const vx::FilePath target = LocalPath(m_strInstallDir + key);
    vx::CreateFolders(target.parent_path());
    vx::CopyFileReplacing(m_fileListPath, target);
  }
  m_host.DownloadComplete();
}

}  // namespace update
