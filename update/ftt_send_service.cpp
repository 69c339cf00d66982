#include "update/ftt_send_service.h"

#include "base/binary_file.h"
#include "base/file_ops.h"
#include "net/pdu_frame.h"
#include "update/ftt_protocol.h"
#include "update/ftt_types.h"

namespace ftt {

// One authenticated (or authenticating) connection and the file it serves.
class VX_FileSendTask {
 public:
  VX_FileSendTask(int hConn, std::string peerAddress) : handle(hConn), peer(std::move(peerAddress)) {}
  int handle;
  std::string peer;
  bool authed = false;
  bool refused = false;
  vx::BinaryFile file;
  int64_t length = 0;
};

FttSendService::FttSendService(FileCatalogue& catalogue) : m_catalogue(catalogue) {}

FttSendService::~FttSendService() { Stop(); }

update::UpdateNetLimits FttSendService::ServiceLimits() {
  update::UpdateNetLimits limits;
  limits.maxConnections = 512;
  limits.maxPerAddress = 32;
  limits.maxQueuedBytes = kMaxQueuedBytes / 2;
  limits.maxTotalQueuedBytes = 96 << 20;
  limits.pduDeadlineMs = 30000;
  limits.idleMs = 180000;  // as long as a silent connection lives; PDUs ignored do not count
  return limits;
}

bool FttSendService::Start(const std::string& address, uint16_t& port) {
  if (!m_log) {
    m_ownLog = update::OpenProcessUpdateLog();
    m_log = m_ownLog.get();
  }
  auto net = std::make_unique<update::UpdateNetManager>(m_log);
  net->SetLimits(m_limits);
  net->SetTrustedProxies(m_trustedProxies);
  net->SetSink(this);
  if (!net->Listen(address, port)) return false;
  std::lock_guard<std::mutex> g(m_lock);
  m_net = std::move(net);
  return true;
}

void FttSendService::Stop() {
  std::unique_ptr<update::UpdateNetManager> net;
  {
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_net) return;
    m_net->SetSink(nullptr);
    net = std::move(m_net);  // events still on their way see no manager
  }
  net.reset();  // closes every connection and joins the I/O thread
  std::lock_guard<std::mutex> g(m_lock);
  m_tasks.clear();
}

void FttSendService::OnAccept(int hConn, const std::string& peer) {
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_net) return;
  m_tasks[hConn] = std::make_unique<VX_FileSendTask>(hConn, peer);
  ++m_accepted;
}

void FttSendService::Send(int hConn, uint16_t type, const std::vector<uint8_t>& body) {
  m_net->SendBody(hConn, type, body);
}

void FttSendService::Refuse(VX_FileSendTask& task, uint16_t result) {
  ++m_refusals;
  task.refused = true;
  Send(task.handle, PDU_FTT_AUTH, EncodeAuthResponse({result, 0}));
}

void FttSendService::Authenticate(VX_FileSendTask& task, const uint8_t* body, uint16_t length) {
  AuthRequest request;
  // A further AUTH switches the connection to another file: the current one
  // is let go before the new one is checked; a refused AUTH closes.
  task.authed = false;
  task.file.Close();
  task.length = 0;
  if (!DecodeAuthRequest(body, length, request) || request.version != kProtocolVersion) {
    Refuse(task, FTTR_ERR_BAD_DATA);
    return;
  }
  const std::optional<std::string> secret = m_catalogue.SecretKeyOf(request.authCode, task.peer);
  if (!secret || request.keyProof != KeyProof(secret->c_str(), request.fileKey)) {
    Refuse(task, FTTR_ERR_AUTH_DENIED);
    return;
  }
  const std::optional<vx::FilePath> path = m_catalogue.FileOf(request.fileKey);
  const int64_t size = path ? vx::FileSize(*path) : -1;  // -1 for a folder too
  if (size < 0) {
    Refuse(task, FTTR_ERR_FILE_NOT_EXIST);
    return;
  }
  if (!task.file.Open(*path, vx::BinaryFile::Mode::Read)) {
    Refuse(task, FTTR_ERR_FILE_OPEN_ERROR);
    return;
  }
  task.length = int64_t(size);
  task.authed = true;
  Send(task.handle, PDU_FTT_AUTH, EncodeAuthResponse({FTTR_OPERATE_SUCCESS, task.length}));
  Send(task.handle, PDU_FTT_FEATURES, EncodeInt32Notice(kFeatureReauth));
}

bool FttSendService::Serve(VX_FileSendTask& task, const uint8_t* body, uint16_t length) {
  DownloadRequest request;
  // A range must begin inside the file; offset 0 is also asked of an empty
  // file before its length is known.
  if (!DecodeDownloadRequest(body, length, request) || request.offset > task.length ||
      (request.offset == task.length && request.offset > 0)) {
    Send(task.handle, PDU_FTT_ERROR, EncodeErrorNotice({FTTR_ERR_BAD_DATA, u"bad download request"}));
    return false;
  }
  int64_t at = request.offset;
  const int64_t end = std::min<int64_t>(task.length, request.offset + request.length);
  const bool positioned = task.file.Seek(uint64_t(at));
  while (at < end) {
    // The PDU is built in place: header, offset, then the file's bytes.
    const size_t n = size_t(std::min<int64_t>(FTT_MAX_PACKAGE_SIZE, end - at));
    std::vector<uint8_t> buffer = m_net->AcquireBuffer(net::kPduHeaderSize + kDownloadResponseHeader + n);
    for (int i = 0; i < 8; ++i) buffer[net::kPduHeaderSize + size_t(i)] = uint8_t(uint64_t(at) >> (8 * i));
    if (!positioned || task.file.Read(buffer.data() + net::kPduHeaderSize + kDownloadResponseHeader, n) != n) {
      Send(task.handle, PDU_FTT_ERROR, EncodeErrorNotice({FTTR_ERR_FILE_READ_WRITE_ERROR, u"read failed"}));
      return false;
    }
    const size_t total = buffer.size();
    m_net->SendPdu(task.handle, PDU_FTT_DOWNLOAD_RESPONSE, std::move(buffer), total);
    m_bytesSent += n;
    at += int64_t(n);
  }
  return true;
}

void FttSendService::OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) {
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_net) return;  // stopping
  auto it = m_tasks.find(hConn);
  if (it == m_tasks.end()) return;
  VX_FileSendTask& task = *it->second;
  if (error) {
    m_tasks.erase(it);
    return;
  }
  if (type == PDU_FTT_AUTH) {
    Authenticate(task, body, length);
    if (task.refused) {  // one try per connection
      m_net->CloseWhenSent(hConn);
      m_tasks.erase(it);
    } else {
      m_net->MarkActive(hConn);
    }
    return;
  }
  if (!task.authed) {  // nothing but AUTH before authentication
    if (!task.refused) Refuse(task, FTTR_ERR_AUTH_DENIED);
    m_net->CloseWhenSent(hConn);
    m_tasks.erase(it);
    return;
  }
  switch (type) {
    case PDU_FTT_DOWNLOAD_REQUEST:
      // A receiver that asks on and on without reading would make us queue
      // the file in memory: such a connection goes.
      if (m_net->QueuedBytes(hConn) > kMaxQueuedBytes) {
        ++m_refusals;
        m_net->Close(hConn);
        m_tasks.erase(it);
        break;
      }
      if (Serve(task, body, length)) m_net->MarkActive(hConn);
      break;
    case PDU_FTT_NOTIFY_RECVED:
    case PDU_FTT_NOTIFY_CLOSED:
      m_net->Close(hConn);
      m_tasks.erase(it);
      break;
    default:  // pause, resume, progress, 0xCC0D and unknown types: ignored, not activity
      break;
  }
}

}  // namespace ftt
