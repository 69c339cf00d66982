#pragma once
// The update server: answers the update protocol on its control port and
// serves a published folder (see publisher.h) through a file-transfer
// service on a second port.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/update_server/shared_codes.h"
#include "update/ftt_send_service.h"
#include "update/log_rate_limiter.h"
#include "update/update_log.h"
#include "update/update_messages.h"
#include "update/update_net_manager.h"

namespace update_server {

struct ServerOptions {
  std::filesystem::path published;
  std::string address = "127.0.0.1";
  uint16_t port = 0;          // control port; 0: any free one
  uint16_t transferPort = 0;  // transfer service; 0: any free one
  std::function<void(const std::string&)> log;  // one line per request (repeats kept to a few)
  update::UpdateNetLimits controlLimits = ControlLimits();
  update::UpdateNetLimits transferLimits = ftt::FttSendService::ServiceLimits();
  // An authorisation code unused for so long is forgotten.
  std::chrono::milliseconds codeLifetime = std::chrono::hours(1);
  // With a shared key, codes any instance of that key verifies; each is
  // good for `sharedCodeLifetime` after it was issued, used or not.
  std::shared_ptr<const SharedCodes> sharedCodes;
  std::chrono::minutes sharedCodeLifetime = std::chrono::hours(24);
  // TCP balancers in front of both ports that send a PROXY header: limits
  // and codes then apply to the client's address it names.
  std::vector<std::string> trustedProxies;

  static update::UpdateNetLimits ControlLimits();
};

class UpdateServer : private update::UpdateNetSink, private ftt::FileCatalogue {
 public:
  UpdateServer() = default;
  ~UpdateServer() override;
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // Loads the published folder and starts listening. False with `error`.
  bool Start(const ServerOptions& options, std::string& error);
  void Stop();
  uint16_t Port() const { return m_port; }
  uint16_t TransferPort() const { return m_transferPort; }

  // Authorisation codes kept at most; when full, new codes are refused until
  // some expire. One peer holds at most kCodesPerPeer (its oldest goes first).
  static constexpr size_t kMaxCodes = 4096;
  static constexpr size_t kCodesPerPeer = 8;
  // Replies queued on a control connection beyond which its requests close it.
  static constexpr size_t kMaxQueuedReplyBytes = 1 << 20;

  // Bytes of replies queued on every control connection together.
  size_t QueuedReplyBytes() const;
  size_t CodeCount();

 private:
  void OnConnect(int, int) override {}
  void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) override;
  std::optional<std::string> SecretKeyOf(const std::string& authCode, const std::string& peer) override;
  std::optional<vx::FilePath> FileOf(const std::u16string& fileKey) override;

  // Answers one request; false for a malformed or unknown one. Under m_netLock.
  bool Answer(int hConn, const std::string& peer, uint16_t type, const uint8_t* body, uint16_t length);
  // False when the message could not be framed or queued.
  template <class M>
  bool Reply(int hConn, const M& message);
  bool Issued(const std::u16string& authCode, const std::u16string& secretKey, const std::string& peer);
  // A new code for `peer`, or false when the table is full of live codes.
  bool Issue(const std::string& peer, std::string& code, std::string& secret);
  void Log(int hConn, const char* request, int32_t result);
  void LogLine(const std::string& key, const std::string& line);

  struct Code {
    std::string secret, peer;
    std::chrono::steady_clock::time_point issued, used;
  };
  // Forwards the network managers' lines to the server's log.
  struct NetLog : update::UpdateLog {
    UpdateServer* server = nullptr;
    void Write(const std::string& message) override;
  };

  ServerOptions m_options;
  std::string m_version;
  int32_t m_build = 0;
  std::map<int32_t, update::FileInfo> m_files;               // by nFileID
  std::map<std::u16string, std::filesystem::path> m_served;  // file key -> published file
  std::mutex m_lock;                                         // codes
  std::map<std::string, Code> m_codes;
  update::LogRateLimiter m_rate;
  NetLog m_netLog;
  std::mutex m_netLock;  // held by every request; Stop takes the manager away under it
  std::unique_ptr<update::UpdateNetManager> m_net;
  std::unique_ptr<ftt::FttSendService> m_transfer;
  uint16_t m_port = 0, m_transferPort = 0;
};

}  // namespace update_server
