#pragma once
// The sending side of file transfer: a listening service that authenticates
// each connection (VX_FileSendTask) against the authorisation codes it has
// issued and answers range requests with data PDUs. A connection may be
// authenticated again for another file.
#include <atomic>
#include <cstdint>
#include "base/file_path.h"
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "update/update_log.h"
#include "update/update_net_manager.h"

namespace ftt {

// What the service may hand out.
class FileCatalogue {
 public:
  virtual ~FileCatalogue() = default;
  // The secret key issued with `authCode` to `peer` (its address), or nothing
  // for a code unknown, expired or issued to another peer.
  virtual std::optional<std::string> SecretKeyOf(const std::string& authCode, const std::string& peer) = 0;
  // The file published under `fileKey`, or nothing.
  virtual std::optional<vx::FilePath> FileOf(const std::u16string& fileKey) = 0;
};

class VX_FileSendTask;

class FttSendService : private update::UpdateNetSink {
 public:
  explicit FttSendService(FileCatalogue& catalogue);
  ~FttSendService() override;
  FttSendService(const FttSendService&) = delete;
  FttSendService& operator=(const FttSendService&) = delete;

  // Before Start: where the service logs (default: the process's update log)
  // and the bounds of its connections (default: ServiceLimits()).
  void SetLog(update::UpdateLog* log) { m_log = log; }
  void SetLimits(const update::UpdateNetLimits& limits) { m_limits = limits; }
  // Balancers whose connections begin with a PROXY header (see UpdateNetManager).
  void SetTrustedProxies(const std::vector<std::string>& addresses) { m_trustedProxies = addresses; }
  // Listens on address:port (0: a free port, returned in `port`).
  bool Start(const std::string& address, uint16_t& port);
  void Stop();

  // Data queued on one connection beyond which its requests close it (an
  // honest receiver keeps two requests of 256 KB in flight); above half of
  // it the connection is not read until its writes drain.
  static constexpr size_t kMaxQueuedBytes = 1 << 20;
  static update::UpdateNetLimits ServiceLimits();

  uint64_t BytesSent() const { return m_bytesSent.load(); }
  uint64_t Refusals() const { return m_refusals.load(); }
  uint64_t Accepted() const { return m_accepted.load(); }  // connections

 private:
  void OnConnect(int, int) override {}
  void OnAccept(int hConn, const std::string& peer) override;
  void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) override;

  void Send(int hConn, uint16_t type, const std::vector<uint8_t>& body);
  void Authenticate(VX_FileSendTask& task, const uint8_t* body, uint16_t length);
  // False when the range was refused or the file could not be read.
  bool Serve(VX_FileSendTask& task, const uint8_t* body, uint16_t length);
  void Refuse(VX_FileSendTask& task, uint16_t result);

  FileCatalogue& m_catalogue;
  update::UpdateLog* m_log = nullptr;
  std::unique_ptr<update::UpdateLog> m_ownLog;
  update::UpdateNetLimits m_limits = ServiceLimits();
  std::vector<std::string> m_trustedProxies;
  std::unique_ptr<update::UpdateNetManager> m_net;
  std::mutex m_lock;
  std::map<int, std::unique_ptr<VX_FileSendTask>> m_tasks;
  std::atomic<uint64_t> m_bytesSent{0}, m_refusals{0}, m_accepted{0};
};

}  // namespace ftt
