#include "update/ftt_task_manager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "base/file_ops.h"
#include "base/binary_file.h"
#include "base/fs_path.h"
#include "net/pdu_frame.h"
#include "update/ftt_progress_record.h"
#include "update/ftt_protocol.h"
#include "update/update_log.h"
#include "update/update_net_manager.h"

using Clock = std::chrono::steady_clock;

namespace ftt {
namespace {

constexpr auto kReconnectPause = std::chrono::seconds(1);
constexpr int kConnectAttempts = 5;  // failed connects in a row before a node gives up
// Authenticated connections kept for the next task, and for how long.
constexpr size_t kMaxIdleConnections = 8;
constexpr auto kIdleLifetime = std::chrono::seconds(10);

std::string FixedText(const char* field, size_t width) { return std::string(field, strnlen(field, width)); }

}  // namespace

struct VX_FileRecvTask {
  struct Node {
    NodeRecord record;
    int32_t state = STATE_CREATED;
    int maxConnections = 1;
    int failures = 0;
    bool closed = false;
    Clock::time_point lastAttempt{};
  };
  struct Connection {
    int node = 0;
    bool authed = false;
    bool reused = false;  // came authenticated from another task: a close before the AUTH answer is no failure
    bool reauth = false;  // the sender takes a further AUTH on it
    std::deque<ByteRange> requests;  // in flight, in the order asked
  };

  std::u16string key;
  vx::FilePath localFile, temporary;
  std::u16string identity;
  uintptr_t wParam = 0, lParam = 0;
  int32_t state = stateCreated;
  std::vector<Node> nodes;
  std::map<int, Connection> connections;
  int64_t fileLength = -1;
  vx::BinaryFile file;
  ReceivedRanges received;
  size_t savedRecordSize = 0;
  int64_t unsaved = 0;
  int lastProgress = -1;
  Clock::time_point created = Clock::now();
  Clock::time_point lastActivity = Clock::now();  // data, connects, new nodes
};

struct VX_FtTaskMgr::Impl : update::UpdateNetSink {
  std::mutex lock;
  std::condition_variable wake;
  std::unique_ptr<update::UpdateLog> log;  // the update log, made on the first start
  std::unique_ptr<update::UpdateNetManager> net;
  std::thread worker;
  bool running = false;
  std::mutex deliver;  // guards sink; held while a notice is delivered
  FttNoticeSink* sink = nullptr;
  std::string address = "127.0.0.1";
  uint16_t port = 0;
  std::map<std::u16string, std::unique_ptr<VX_FileRecvTask>> tasks;
  std::map<int, VX_FileRecvTask*> byConnection;
  std::map<int, Clock::time_point> idle;  // authenticated connections between tasks, since when
  std::deque<TaskNotice> notices;
  std::atomic<uint64_t> receivedBytes{0};

  // --- notices (queued under the lock, delivered by the worker) ---
  void Notice(const VX_FileRecvTask& t, uint16_t result, int node, int progress) {
    TaskNotice n;
    n.result = result;
    n.fileKey = t.key;
    n.node = node;
    n.progress = progress;
    n.wParam = t.wParam;
    n.lParam = t.lParam;
    n.currentLength = uint64_t(std::max<int64_t>(0, t.received.Bytes()));
    if (node >= 0 && size_t(node) < t.nodes.size()) n.nodeMaxConnections = t.nodes[size_t(node)].maxConnections;
    notices.push_back(std::move(n));
    wake.notify_one();
  }

  void Send(int hConn, uint16_t type, const std::vector<uint8_t>& body) {
    net->SendBody(hConn, type, body);
  }

  // --- connections ---
  void Open(VX_FileRecvTask& t, int node) {
    if (!idle.empty()) {  // the most recently parked one
      auto newest = idle.begin();
      for (auto it = idle.begin(); it != idle.end(); ++it)
        if (it->second > newest->second) newest = it;
      const int h = newest->first;
      idle.erase(newest);
      VX_FileRecvTask::Connection& c = t.connections[h];
      c.node = node;
      c.reused = c.reauth = true;
      byConnection[h] = &t;
      t.nodes[size_t(node)].lastAttempt = Clock::now();
      SendAuth(t, h);
      return;
    }
    const int h = net->CreateConnection(address, port);
    if (h < 0) return;
    t.connections[h].node = node;
    byConnection[h] = &t;
    t.nodes[size_t(node)].lastAttempt = Clock::now();
    if (!net->Connect(h, address, port)) Forget(t, h);
  }

  void Forget(VX_FileRecvTask& t, int h) {
    t.connections.erase(h);
    byConnection.erase(h);
  }

  void CloseConnection(VX_FileRecvTask& t, int h) {
    net->Close(h);
    Forget(t, h);
  }

  void CloseIdle() {
    for (const auto& [h, since] : idle) net->Close(h);
    idle.clear();
  }

  // AUTH for the task's file; on a task that has no length yet and nothing to
  // resume, the first request goes right behind it (senders answer in order).
  void SendAuth(VX_FileRecvTask& t, int h) {
    VX_FileRecvTask::Connection& c = t.connections[h];
    VX_FileRecvTask::Node& n = t.nodes[size_t(c.node)];
    if (n.state == STATE_CREATED) n.state = STATE_AUTHENTICATING;
    t.lastActivity = Clock::now();
    AuthRequest auth;
    auth.authCode = FixedText(n.record.authCode, FTT_AUTH_CODE_LENGTH);
    auth.fileKey = t.key;
    auth.identity = t.identity;
    const std::string secret = FixedText(n.record.szSecretKey, FTT_SECRET_KEY_LENGTH);
    auth.keyProof = KeyProof(secret.c_str(), t.key);
    Send(h, PDU_FTT_AUTH, EncodeAuthRequest(auth));
    bool asked = false;
    for (const auto& [other, oc] : t.connections) asked |= !oc.requests.empty();
    if (t.fileLength < 0 && !asked && !vx::PathExists(t.temporary)) {
      c.requests.push_back({0, kRequestLength});
      Send(h, PDU_FTT_DOWNLOAD_REQUEST, EncodeDownloadRequest({0, kRequestLength}));
    }
  }

  int ConnectionsOf(const VX_FileRecvTask& t, int node) const {
    int n = 0;
    for (const auto& [h, c] : t.connections) n += c.node == node;
    return n;
  }

  void FillConnections(VX_FileRecvTask& t) {
    if (!net || t.state == stateRecved || t.state == stateAborted) return;
    for (size_t i = 0; i < t.nodes.size(); ++i) {
      VX_FileRecvTask::Node& node = t.nodes[i];
      if (node.closed) continue;
      if (node.failures > 0 && Clock::now() - node.lastAttempt < kReconnectPause) continue;
      while (ConnectionsOf(t, int(i)) < node.maxConnections) Open(t, int(i));
    }
  }

  void CloseNode(VX_FileRecvTask& t, int node, uint16_t result) {
    VX_FileRecvTask::Node& n = t.nodes[size_t(node)];
    if (n.closed) return;
    n.closed = true;
    n.state = STATE_CLOSED;
    std::vector<int> handles;
    for (const auto& [h, c] : t.connections)
      if (c.node == node) handles.push_back(h);
    for (int h : handles) CloseConnection(t, h);
    Notice(t, result, node, ProgressTenths(t.received.Bytes(), t.fileLength));
  }

  // Ends the task: every node and connection closed, the file closed.
  void Abort(VX_FileRecvTask& t, uint16_t result) {
    t.state = stateAborted;
    for (auto& n : t.nodes) n.closed = true, n.state = STATE_CLOSED;
    std::vector<int> handles;
    for (const auto& [h, c] : t.connections) handles.push_back(h);
    for (int h : handles) CloseConnection(t, h);
    t.file.Close();
    Notice(t, result, -1, ProgressTenths(t.received.Bytes(), t.fileLength));
  }

  // --- the temporary file ---
  bool PrepareFile(VX_FileRecvTask& t, int64_t length) {
    t.fileLength = length;
    bool resumed = false;
    if (const int64_t found = vx::FileSize(t.temporary); found >= 0) {
      const uintmax_t size = uintmax_t(found);
      if (size >= uintmax_t(length) && size - uintmax_t(length) <= PROGRESS_DATA_LEN_MAX) {
        vx::BinaryFile in(t.temporary, vx::BinaryFile::Mode::Read);
        std::vector<uint8_t> tail(size_t(size - uintmax_t(length)));
        const bool read = in.Seek(uint64_t(length)) && in.Read(tail.data(), tail.size()) == tail.size();
        ProgressRecord record;
        std::string error;
        if (read && tail.size() >= kProgressTagSize + 4) {
          uint32_t rest = 0;
          std::memcpy(&rest, tail.data() + kProgressTagSize, 4);  // little-endian hosts and targets
          const size_t used = kProgressTagSize + 4 + size_t(rest);
          const bool padding = used <= tail.size() &&
                               std::all_of(tail.begin() + std::ptrdiff_t(used), tail.end(), [](uint8_t b) { return b == 0; });
          if (padding && DecodeProgressRecord(tail.data(), used, record, error) && record.fileLength == length &&
              record.identity == t.identity) {
            t.received = record.received;
            t.savedRecordSize = tail.size();
            resumed = true;
          }
        }
      }
    }
    if (!resumed) {
      t.received = ReceivedRanges();
      t.savedRecordSize = 0;
      vx::BinaryFile(t.temporary, vx::BinaryFile::Mode::Create);
    }
    return t.file.Open(t.temporary, vx::BinaryFile::Mode::ReadWrite);
  }

  void SaveRecord(VX_FileRecvTask& t) {
    if (!t.file.IsOpen() || t.fileLength < 0) return;
    ProgressRecord record;
    record.identity = t.identity;
    record.fileLength = t.fileLength;
    record.received = t.received;
    record.position = t.received.Bytes();
    std::vector<uint8_t> bytes = EncodeProgressRecord(record);
    const size_t size = bytes.size();
    if (bytes.size() < t.savedRecordSize) bytes.resize(t.savedRecordSize, 0);  // blank a longer old record
    t.file.Seek(uint64_t(t.fileLength));
    t.file.Write(bytes.data(), bytes.size());
    t.file.Flush();
    t.savedRecordSize = std::max(size, t.savedRecordSize);
    t.unsaved = 0;
  }

  void Finish(VX_FileRecvTask& t) {
    t.file.Close();
    const bool moved = vx::ResizeFile(t.temporary, uint64_t(t.fileLength)) &&
                       vx::RenameReplacing(t.temporary, t.localFile);
    // Connections to a sender that takes a further AUTH wait for the next
    // task; the others say the file is in and close.
    std::vector<int> handles;
    for (const auto& [h, c] : t.connections) {
      if (c.authed && c.reauth && c.requests.empty() && idle.size() < kMaxIdleConnections) {
        idle[h] = Clock::now();
        byConnection.erase(h);
        continue;
      }
      if (c.authed) Send(h, PDU_FTT_NOTIFY_RECVED, EncodeInt64Notice(t.fileLength));
      handles.push_back(h);
    }
    for (int h : handles) CloseConnection(t, h);
    t.connections.clear();
    for (auto& n : t.nodes) n.state = STATE_RECVED, n.closed = true;
    if (!moved) {
      t.state = stateAborted;
      Notice(t, FTTR_ERR_FILE_READ_WRITE_ERROR, -1, ProgressTenths(t.received.Bytes(), t.fileLength));
      return;
    }
    t.state = stateRecved;
    Notice(t, FTTR_ERR_PROGRESS, -1, NEDDISK_RATE);
  }

  // Keeps kRequestsInFlight requests out on the connection, each for the
  // first range that is neither received nor asked for on any connection.
  void RequestMore(VX_FileRecvTask& t, int h) {
    VX_FileRecvTask::Connection& c = t.connections[h];
    while (c.requests.size() < size_t(kRequestsInFlight)) {
      ReceivedRanges taken = t.received;
      for (const auto& [other, oc] : t.connections)
        for (const ByteRange& r : oc.requests) taken.Add(r.start, r.end);
      const ByteRange next = taken.NextMissing(t.fileLength, 0, kRequestLength);
      if (next.start >= next.end) return;
      c.requests.push_back(next);
      Send(h, PDU_FTT_DOWNLOAD_REQUEST, EncodeDownloadRequest({next.start, int32_t(next.end - next.start)}));
    }
  }

  void OnAuthResponse(VX_FileRecvTask& t, int h, const uint8_t* body, uint16_t length) {
    VX_FileRecvTask::Connection& c = t.connections[h];
    const int node = c.node;
    AuthResponse response;
    if (!DecodeAuthResponse(body, length, response)) {
      CloseConnection(t, h);
      Notice(t, FTTR_ERR_BAD_DATA, node, 0);
      return;
    }
    if (response.result != FTTR_OPERATE_SUCCESS) {
      CloseNode(t, node, uint16_t(response.result));
      return;
    }
    for (ByteRange& r : c.requests) r.end = std::min(r.end, response.fileLength);  // one asked blindly
    std::erase_if(c.requests, [](const ByteRange& r) { return r.start >= r.end; });
    c.authed = true;
    if (t.fileLength < 0) {
      if (!PrepareFile(t, response.fileLength)) {
        Abort(t, FTTR_ERR_CANT_CREATE_TARGET_FILE);
        return;
      }
      if (t.received.Complete(t.fileLength)) {
        Finish(t);
        return;
      }
    } else if (response.fileLength != t.fileLength) {
      CloseNode(t, node, FTTR_ERR_FILE_HAS_MODIFIED);
      return;
    }
    t.nodes[size_t(node)].state = STATE_TRANSFERING;
    t.nodes[size_t(node)].failures = 0;
    t.state = stateTransfering;
    RequestMore(t, h);
  }

  void OnData(VX_FileRecvTask& t, int h, const uint8_t* body, uint16_t length) {
    VX_FileRecvTask::Connection& c = t.connections[h];
    int64_t offset = 0;
    const uint8_t* data = nullptr;
    size_t n = 0;
    const bool parsed = c.authed && ParseDownloadResponse(body, length, offset, data, n);
    if (!parsed || std::none_of(c.requests.begin(), c.requests.end(), [&](const ByteRange& r) {
          return offset >= r.start && offset + int64_t(n) <= r.end;
        })) {
      const int node = c.node;
      CloseConnection(t, h);  // data nobody asked for
      Notice(t, FTTR_ERR_BAD_DATA, node, ProgressTenths(t.received.Bytes(), t.fileLength));
      return;
    }
    if (!t.file.Seek(uint64_t(offset)) || !t.file.Write(data, n)) {
      if (log) log->Write("[ERROR] write failed: " + vx::PathToUtf8(t.temporary));
      Abort(t, FTTR_ERR_FILE_READ_WRITE_ERROR);
      return;
    }
    t.received.Add(offset, offset + int64_t(n));
    receivedBytes += n;
    t.lastActivity = Clock::now();
    t.unsaved += int64_t(n);
    std::erase_if(c.requests, [&](const ByteRange& r) { return t.received.Covers(r); });
    if (t.received.Complete(t.fileLength)) {
      Finish(t);
      return;
    }
    RequestMore(t, h);
    if (t.unsaved >= kSaveInterval) SaveRecord(t);
    const int progress = ProgressTenths(t.received.Bytes(), t.fileLength);
    if (progress != t.lastProgress) {
      t.lastProgress = progress;
      Notice(t, FTTR_ERR_PROGRESS, c.node, progress);
    }
  }

  // --- net events (I/O thread) ---
  void OnConnect(int error, int h) override {
    std::lock_guard<std::mutex> g(lock);
    if (!net) return;  // stopping
    auto it = byConnection.find(h);
    if (it == byConnection.end()) return;
    VX_FileRecvTask& t = *it->second;
    const int node = t.connections[h].node;
    VX_FileRecvTask::Node& n = t.nodes[size_t(node)];
    if (error) {
      Forget(t, h);
      if (++n.failures >= kConnectAttempts) CloseNode(t, node, FTTR_ERR_FTT_SOCKET_CONNECT_FAILED);
      return;
    }
    SendAuth(t, h);
  }

  void OnPdu(int error, int h, uint16_t type, const uint8_t* body, uint16_t length) override {
    std::lock_guard<std::mutex> g(lock);
    if (!net) return;  // stopping
    if (auto parked = idle.find(h); parked != idle.end()) {  // gone, or talking out of turn
      if (!error) net->Close(h);
      idle.erase(parked);
      return;
    }
    auto it = byConnection.find(h);
    if (it == byConnection.end()) return;
    VX_FileRecvTask& t = *it->second;
    if (error) {  // the connection is gone; its requests go back to the pool
      const int node = t.connections[h].node;
      const bool authed = t.connections[h].authed;
      const bool reused = t.connections[h].reused;
      Forget(t, h);
      if (t.state == stateTransfering) SaveRecord(t);
      if (reused && !authed) {  // the sender let it go while it waited: a new one at once
        FillConnections(t);
        return;
      }
      VX_FileRecvTask::Node& n = t.nodes[size_t(node)];
      ++n.failures;
      n.lastAttempt = Clock::now();
      // A service that accepts and closes before answering is as good as none.
      if (!authed && n.failures >= kConnectAttempts) CloseNode(t, node, FTTR_ERR_FTT_SOCKET_CONNECT_FAILED);
      return;
    }
    switch (type) {
      case PDU_FTT_AUTH:
        OnAuthResponse(t, h, body, length);
        break;
      case PDU_FTT_DOWNLOAD_RESPONSE:
        OnData(t, h, body, length);
        break;
      case PDU_FTT_ERROR: {
        ErrorNotice notice;
        const int node = t.connections[h].node;
        CloseConnection(t, h);
        Notice(t, DecodeErrorNotice(body, length, notice) ? uint16_t(notice.code) : uint16_t(FTTR_ERR_BAD_DATA), node,
               ProgressTenths(t.received.Bytes(), t.fileLength));
        break;
      }
      case PDU_FTT_NOTIFY_CLOSED:
        CloseConnection(t, h);
        break;
      case PDU_FTT_FEATURES: {
        int32_t features = 0;
        if (DecodeFeatures(body, length, features)) t.connections[h].reauth = (features & kFeatureReauth) != 0;
        break;
      }
      default:  // pause, resume, progress, 0xCC0D, unknown
        break;
    }
  }

  // --- the manager's own thread ---
  void Run() {
    std::unique_lock<std::mutex> g(lock);
    while (running) {
      wake.wait_for(g, std::chrono::milliseconds(200), [&] { return !running || !notices.empty(); });
      while (!notices.empty()) {
        TaskNotice n = std::move(notices.front());
        notices.pop_front();
        g.unlock();
        {
          std::lock_guard<std::mutex> d(deliver);
          if (sink) sink->OnNoticeTaskStatus(n);
        }
        g.lock();
      }
      if (!running) break;
      const auto now = Clock::now();
      for (auto it = idle.begin(); it != idle.end();) {
        if (now - it->second > kIdleLifetime) {
          net->Close(it->first);
          it = idle.erase(it);
        } else {
          ++it;
        }
      }
      // A task without connections and without activity for so long goes;
      // its temporary file stays for a later task.
      for (auto it = tasks.begin(); it != tasks.end();) {
        VX_FileRecvTask& t = *it->second;
        if (t.connections.empty() && now - t.lastActivity > std::chrono::milliseconds(ELAPSE_REMOVE_TIMER)) {
          if (t.state == stateTransfering) SaveRecord(t);
          it = tasks.erase(it);
        } else {
          ++it;
        }
      }
      for (auto& [key, t] : tasks) {
        FillConnections(*t);
        if (t->state != stateTransfering && t->state != stateRecved && t->state != stateAborted &&
            now - t->created > std::chrono::milliseconds(ELAPSE_TASK_CONNECT_LIMIT)) {
          t->state = stateAborted;
          Notice(*t, FTTR_ERR_TASK_CONNECT_TIME_OUT, -1, 0);
        }
      }
    }
  }
};

VX_FtTaskMgr::VX_FtTaskMgr() : m_pImpl(new Impl) {}

VX_FtTaskMgr::~VX_FtTaskMgr() { FttMgrStop(); }

bool VX_FtTaskMgr::FttMgrStart() {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  if (m_pImpl->running) return true;
  if (!m_pImpl->log) m_pImpl->log = update::OpenProcessUpdateLog();
  m_pImpl->net = std::make_unique<update::UpdateNetManager>(m_pImpl->log.get());
  m_pImpl->net->SetSink(m_pImpl.get());
  m_pImpl->running = true;
  m_pImpl->worker = std::thread([this] { m_pImpl->Run(); });
  return true;
}

void VX_FtTaskMgr::FttMgrStop() {
  std::unique_ptr<update::UpdateNetManager> net;
  {
    std::lock_guard<std::mutex> g(m_pImpl->lock);
    if (!m_pImpl->running) return;
    m_pImpl->running = false;
    m_pImpl->net->SetSink(nullptr);
    net = std::move(m_pImpl->net);
    m_pImpl->wake.notify_one();
  }
  m_pImpl->worker.join();
  net.reset();  // joins the I/O thread outside the lock
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  for (auto& [key, t] : m_pImpl->tasks)
    if (t->state == stateTransfering) m_pImpl->SaveRecord(*t);
  m_pImpl->tasks.clear();
  m_pImpl->byConnection.clear();
  m_pImpl->idle.clear();
  m_pImpl->notices.clear();
}

void VX_FtTaskMgr::SetNoticeSink(FttNoticeSink* sink) {
  std::lock_guard<std::mutex> d(m_pImpl->deliver);
  m_pImpl->sink = sink;
}

void VX_FtTaskMgr::SetTransferService(const std::string& address, uint16_t port) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  if ((address != m_pImpl->address || port != m_pImpl->port) && m_pImpl->net) m_pImpl->CloseIdle();
  m_pImpl->address = address;
  m_pImpl->port = port;
}

uint16_t VX_FtTaskMgr::CreateRecvTask(const std::u16string& fileKey, bool, const vx::FilePath& localFile,
                                      uintptr_t wParam, uintptr_t lParam, bool, const std::u16string& fileIdentity) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  if (!m_pImpl->running) return FTTR_ERR_BAD_STATE;
  if (m_pImpl->tasks.count(fileKey)) return FTTR_ERR_FILE_EXIST;
  auto t = std::make_unique<VX_FileRecvTask>();
  t->key = fileKey;
  t->localFile = localFile;
  t->temporary = TemporaryFile(localFile);
  t->identity = fileIdentity;
  t->wParam = wParam;
  t->lParam = lParam;
  m_pImpl->tasks[fileKey] = std::move(t);
  return FTTR_OPERATE_SUCCESS;
}

uint16_t VX_FtTaskMgr::RemoveTask(bool receive, const std::u16string& fileKey) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  auto it = m_pImpl->tasks.find(fileKey);
  if (!receive || it == m_pImpl->tasks.end()) return FTTR_ERR_TASK_NO_EXIST;
  VX_FileRecvTask& t = *it->second;
  std::vector<int> handles;
  for (const auto& [h, c] : t.connections) handles.push_back(h);
  for (int h : handles) m_pImpl->CloseConnection(t, h);
  if (t.state == stateTransfering) m_pImpl->SaveRecord(t);
  t.file.Close();
  if (t.state != stateRecved) {
    t.state = stateAborted;
    m_pImpl->Notice(t, FTTR_ERR_OPERATE_ABORT, -1, ProgressTenths(t.received.Bytes(), t.fileLength));
  }
  m_pImpl->tasks.erase(it);
  return FTTR_OPERATE_SUCCESS;
}

bool VX_FtTaskMgr::IsExistTask(bool receive, const std::u16string& fileKey) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  return receive && m_pImpl->tasks.count(fileKey) != 0;
}

uint16_t VX_FtTaskMgr::AddNode(bool receive, const std::u16string& fileKey, const NodeRecord& node) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  auto it = m_pImpl->tasks.find(fileKey);
  if (!receive || it == m_pImpl->tasks.end()) return FTTR_ERR_TASK_NO_EXIST;
  if (node.ulSize != sizeof(NodeRecord)) return FTTR_ERR_BAD_DATA;
  VX_FileRecvTask& t = *it->second;
  VX_FileRecvTask::Node n;
  t.lastActivity = Clock::now();
  n.record = node;
  n.maxConnections = std::max(1, node.nMaxConnCnt);
  t.nodes.push_back(n);
  if (t.state == stateCreated) t.state = stateIniting;
  m_pImpl->FillConnections(t);
  return FTTR_OPERATE_SUCCESS;
}

uint16_t VX_FtTaskMgr::SetNodeMaxConnectionCnt(bool receive, const std::u16string& fileKey, int node, int count) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  auto it = m_pImpl->tasks.find(fileKey);
  if (!receive || it == m_pImpl->tasks.end()) return FTTR_ERR_TASK_NO_EXIST;
  VX_FileRecvTask& t = *it->second;
  if (node < 0 || size_t(node) >= t.nodes.size() || count < 1) return FTTR_ERR_BAD_DATA;
  t.nodes[size_t(node)].maxConnections = count;
  m_pImpl->Notice(t, FTTR_NODE_STATE_CHANGED, node, ProgressTenths(t.received.Bytes(), t.fileLength));
  m_pImpl->FillConnections(t);
  return FTTR_OPERATE_SUCCESS;
}

uint64_t VX_FtTaskMgr::ReceivedBytes() const { return m_pImpl->receivedBytes; }

size_t VX_FtTaskMgr::TaskCount() {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  return m_pImpl->tasks.size();
}

vx::FilePath VX_FtTaskMgr::TemporaryFile(const vx::FilePath& localFile) {
  vx::FilePath temporary = localFile;
  temporary += vx::PathFromUtf8(".sd!").native();
  return temporary;
}

bool VX_FtTaskMgr::HasTemporaryFile(const vx::FilePath& localFile) {
  return vx::PathExists(TemporaryFile(localFile));
}

}  // namespace ftt
