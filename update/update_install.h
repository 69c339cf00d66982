#pragma once
// UpdateInstall: the online-install client. It finds its update server,
// asks for the version, the transfer credentials and the file list, keeps the
// connection alive and reconnects, and downloads the product files with the
// download scheduler through the file-transfer task manager, decoding each
// finished file on a worker thread. Network and transfer events arrive on
// their own threads and are posted to the main thread, where everything else
// runs (timers, protocol, lists, counters); the surroundings (the wizard, or a
// test loop) are the host.
#include <atomic>
#include <cstdint>
#include "base/file_path.h"
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "update/address_client.h"
#include "update/download_decoder.h"
#include "update/download_scheduler.h"
#include "update/download_speed.h"
#include "update/ftt_task_manager.h"
#include "update/online_file_list.h"
#include "update/stall_watch.h"
#include "update/update_messages.h"
#include "update/update_net_manager.h"

namespace update {

class UpdateLog;

struct ServerEntry {
  std::string address;
  uint16_t port = 0;
  int hConn = -1;
};

// "address:port" items separated by ","; parsing stops at the first item
// without ":" (or without a port number).
std::vector<ServerEntry> ParseServerList(std::u16string_view text);
// The decimal value of a product code text (0 when it has none).
int32_t ProductNumber(std::u16string_view text);

class UpdateInstallHost {
 public:
  virtual ~UpdateInstallHost() = default;
  // Runs `task` on the main thread later. Called from any thread; must not block.
  virtual void PostToMain(std::function<void()> task) = 0;
  virtual void StartTimer(int id, unsigned periodMs) = 0;
  virtual void StopTimer(int id) = 0;
  // The wizard's error report (code, downloading flag); ends the run.
  virtual void ShowErrorMsg(int code, int downloading) = 0;
  // The file list is in: the view can be filled (first time) and Next enabled.
  virtual void FileListLoaded(bool firstTime) = 0;
  virtual void OnlineClientConnected() = 0;
  virtual void EntryChanged(const DownloadEntry&) {}
  // Every file is in place (connection closed, workers joined).
  virtual void DownloadComplete() = 0;
  virtual void Trace(const std::string&) {}
};

class UpdateInstall : private UpdateNetSink, private ftt::FttNoticeSink, private DownloadActions {
 public:
  // Timers of the main window.
  static constexpr int kKeepAliveTimer = 100;  // every 3000 ms
  static constexpr int kWatchdogTimer = 101;   // every 1000 ms while downloading
  static constexpr int kRetryTimer = 102;      // one-shot: the next connect attempt
  static constexpr unsigned kKeepAliveMs = 3000, kWatchdogMs = 1000;
  // The pause before the next connect attempt doubles from the first to the
  // longest: 1, 2, 4, 8 s.
  static constexpr unsigned kRetryMs = 1000, kLongestRetryMs = 8000;
  // Connect attempts after the first failure of a first connect (a reconnect
  // cycle starts at 1 and so makes one fewer). A connection that closes or
  // stays silent before the server's first answer is a failed attempt.
  static constexpr int kMaxConnectRetries = 3;
  // Reported when the server accepts and closes, or when its transfer
  // service cannot be reached (after as many cycles as connect attempts).
  static constexpr int kUnreachableCode = 10061;
  // Connect cycles in a row whose transfer connections all failed (each
  // after the transfer task's own five attempts) before that is reported.
  static constexpr int kTransferCycles = 2;
  // Shown when the server's version changed under a running install, and
  // when the file list cannot be installed.
  static constexpr int kVersionChangedCode = 10061;
  static constexpr int kBadFileListCode = DownloadScheduler::kBadDataCode;

  // `temporaryFolder`: where the file list is downloaded ("...\UpdateInstall\<pid>\").
  UpdateInstall(UpdateInstallHost& host, vx::FilePath temporaryFolder, UpdateLog* log = nullptr);
  ~UpdateInstall() override;
  UpdateInstall(const UpdateInstall&) = delete;
  UpdateInstall& operator=(const UpdateInstall&) = delete;

  // --- main thread ---
  void SetProductNumber(std::u16string_view text) { m_nProductNumber = ProductNumber(text); }
  void SetServerList(std::u16string_view text);
  // Address-server mode: `text` lists address servers ("address:port" items);
  // their answer arrives as OnGetUpgrateServerAddress or OnConnectError.
  void SetAddressServerList(std::u16string_view text, unsigned queryMs = AddressServerClient::kQueryMs,
                            unsigned pauseMs = AddressServerClient::kPauseMs);
  // The address server's answer (result 0 and a list: connect to it).
  void OnGetUpgrateServerAddress(int result, const std::vector<std::string>& addresses);
  void OnConnectError(int error);
  void ConnectUpdateSrv();
  void SetInstallDirectory(std::u16string_view directory);
  const std::u16string& InstallDirectory() const { return m_strInstallDir; }
  // Reads the downloaded file list again, paths below the install directory.
  bool ReloadFileList();
  // Every folder of the list below the install directory.
  bool CreateDirectories();
  void StartDownload(uint32_t files, uint32_t connections);
  void ReConnect();
  void DisconnectUpdateSrv();
  void OnTimer(int id);
  // Speed timer tick: the speed text ("%s" of "Speed:%s/S"), or empty when skipped.
  std::string SpeedTick();
  // Shorter pauses between connect attempts (tests).
  void SetRetryPauses(unsigned firstMs, unsigned longestMs) { m_retryMs = firstMs, m_longestRetryMs = longestMs; }
  size_t TransferTaskCount() const { return m_tasks.size(); }

  const OnlineFileList& Files() const { return m_files; }
  DownloadScheduler& Scheduler() { return m_scheduler; }
  uint64_t TotalSize() const { return m_files.m_ulTotalSize; }
  uint64_t DownloadedBytes() const { return m_scheduler.DownloadedBytes(); }
  bool Downloading() const { return m_scheduler.Downloading(); }
  bool Connected() const { return m_MainConn != -1; }
  const std::u16string& FileVersion() const { return m_strFileVer; }
  // The file list's key, normalised: its copy in the install directory.
  std::u16string FileListCopyKey() const;
  const vx::FilePath& FileListPath() const { return m_fileListPath; }

 private:
  // UpdateNetSink (I/O thread): posted on.
  void OnConnect(int error, int hConn) override;
  void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) override;
  // FttNoticeSink (transfer thread): posted on.
  void OnNoticeTaskStatus(const ftt::TaskNotice& notice) override;

  // Main thread.
  void OnSUConnect(int error, int hConn);
  void OnSUDisconnect(int error, int hConn);
  // A connect attempt failed: the next after a growing pause, the next
  // server, or the error report.
  void ConnectFailed(int error);
  // The transfer service refused this cycle's connections.
  void TransferServiceFailed();
  void DropUnansweredConnection();
  void OnMessage(uint16_t type, const std::vector<uint8_t>& body);
  void OnGetVersionInfo(const GetVersionInfoResponse& r);
  void OnAuthCode(const GetAuthCodeFtResponse& r);
  void OnDownloadFileInfoExFT(const DownloadFileInfoExFtResponse& r);
  void OnDownloadFileFT(const DownloadFileFtResponse& r);
  void OnNotice(const ftt::TaskNotice& notice);
  void OnFileListComplete();
  void OnAllFilesDone();
  bool LoadFileList();
  template <class M>
  bool Send(const M& message);
  void RemoveAllTasks();
  void AddNodeTo(const std::u16string& key, int connections);
  void Fatal(int code, int downloading);
  void Post(std::function<void()> task);

  // DownloadActions.
  void RequestFile(const DownloadEntry& e) override;
  void RequestAhead(const DownloadEntry& e) override;
  void SendFileRequest(const DownloadEntry& e);  // DOWNLOADFILE_FT
  void SetTaskConnections(const DownloadEntry& e, int count) override;
  bool PrepareFolder(const DownloadEntry& e) override;
  bool TemporaryFileExists(const DownloadEntry& e) override;
  void RemoveTask(const DownloadEntry& e) override;
  void DiscardDownload(const DownloadEntry& e) override;
  void StartDecoding(const DownloadEntry& e) override;
  void EntryChanged(const DownloadEntry& e) override { m_host.EntryChanged(e); }
  void RestartWatchdog() override { m_host.StartTimer(kWatchdogTimer, kWatchdogMs); }
  void AllFilesDone() override { OnAllFilesDone(); }
  void DownloadFailed(const DownloadEntry& e, int code) override;
  void Trace(const std::string& text) override { m_host.Trace(text); }

  UpdateInstallHost& m_host;
  UpdateLog* m_log;
  std::shared_ptr<std::atomic<bool>> m_alive;  // posted tasks run only while true
  vx::FilePath m_temporaryFolder;

  std::vector<ServerEntry> m_servers;
  size_t m_serverIndex = 0;  // the server tried now; the next one when its attempts are spent
  std::mutex m_connLock;  // m_MainConn and sends
  int m_MainConn = -1;
  int m_nConnectAttempts = 0;
  unsigned m_retryMs = kRetryMs, m_longestRetryMs = kLongestRetryMs;
  bool m_bAnswered = false;  // the server answered on m_MainConn
  StallWatch::Clock::time_point m_versionSentAt{};
  int m_nTransferFailures = 0;  // cycles in a row whose transfers could not connect
  bool m_bTransferFailedThisCycle = false;
  uint64_t m_receivedAtCycleStart = 0;
  StallWatch m_stall;
  bool m_bDisconnectRequested = false;
  bool m_bStopped = false;  // a fatal error was reported
  int m_iIsAlive = 0;
  int32_t m_nProductNumber = 0;

  std::u16string m_strFileVer;
  VersionRecord m_version;
  vx::FilePath m_fileListPath, m_updateContentPath;
  std::u16string m_strFileListKey;
  bool m_bViewFilled = false;
  ftt::NodeRecord m_node;
  std::u16string m_authCode, m_secretKey;

  std::u16string m_strInstallDir;
  OnlineFileList m_files;
  DownloadScheduler m_scheduler{m_files, *this};
  DownloadSpeed m_speed;
  std::map<std::u16string, int> m_tasks;  // keys of the tasks created -> nodes added
  std::set<std::u16string> m_removing;    // removed by us: their abort notice is expected
  // Files asked for ahead of their turn, and the answers that came for them.
  std::set<int32_t> m_askedAhead;
  std::map<int32_t, DownloadFileFtResponse> m_answeredAhead;

  // The address servers' answers, posted to the main thread.
  struct AddressAnswers : AddressServerSink {
    UpdateInstall& owner;
    explicit AddressAnswers(UpdateInstall& o) : owner(o) {}
    void OnGetUpgrateServerAddress(int result, const std::vector<std::string>& addresses) override {
      owner.Post([this, result, addresses] { owner.OnGetUpgrateServerAddress(result, addresses); });
    }
    void OnConnectError(int error) override {
      owner.Post([this, error] { owner.OnConnectError(error); });
    }
  } m_addressAnswers{*this};

  // Declared last: destroyed first, so that no event arrives into a half-gone client.
  std::unique_ptr<AddressServerClient> m_addressClient;
  DecodeWorkers m_workers;
  ftt::VX_FtTaskMgr m_ftt;
  UpdateNetManager m_net;
};

}  // namespace update
