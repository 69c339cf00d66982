#pragma once
// The download scheduler of an online install: at most `files` files at once
// over at most `connections` transfer connections in all, one connection per
// file first, spare connections one by one to the running file with the
// largest remaining share per connection. It follows the transfer notices,
// hands each finished file to a decoder, downloads a file again when its
// transfer failed for good or its decoded data is bad (a few times, then the
// failure is reported), and ends once every file is decoded. Single-threaded:
// everything runs on the owner's thread; the actions do the I/O.
#include <cstdint>
#include <string>

#include "update/online_file_list.h"

namespace update {

// One file-transfer notice as the scheduler sees it.
struct TransferNotice {
  int32_t taskType = 2;
  uint16_t result = 0;
  std::u16string fileKey;
  int node = -1;  // -1: the task as a whole
  int progress = 0;  // tenths of a percent
  uint64_t currentLength = 0;
};

enum class NoticeKind { kNothing, kProgress, kFailed, kTraced };
// What a notice result means to the scheduler.
NoticeKind ClassifyNotice(uint16_t result);
// Task results after which the same transfer cannot succeed by waiting:
// the target file cannot be opened, written or created, or the disk is full.
bool IsPermanentTaskFailure(uint16_t result);

class DownloadActions {
 public:
  virtual ~DownloadActions() = default;
  // Asks the server for the file (DOWNLOADFILE_FT); the answer comes later.
  virtual void RequestFile(const DownloadEntry& e) = 0;
  // Asks for a file that waits, so that its answer is in when a connection
  // frees up; RequestFile for it then needs no new round trip.
  virtual void RequestAhead(const DownloadEntry&) {}
  // Gives the file's receive task `count` connections.
  virtual void SetTaskConnections(const DownloadEntry& e, int count) = 0;
  // Creates the folder the file's paths lie in; false when it cannot be made.
  virtual bool PrepareFolder(const DownloadEntry& e) = 0;
  virtual bool TemporaryFileExists(const DownloadEntry& e) = 0;
  // Ends the file's receive task; a later request starts a new one.
  virtual void RemoveTask(const DownloadEntry& e) = 0;
  // Deletes what was downloaded for the file, so that it comes anew.
  virtual void DiscardDownload(const DownloadEntry& e) = 0;
  // Decodes the temporary file into the final path off this thread;
  // DownloadScheduler::OnFileDecoded follows on this thread.
  virtual void StartDecoding(const DownloadEntry& e) = 0;
  virtual void EntryChanged(const DownloadEntry&) {}
  virtual void RestartWatchdog() {}
  virtual void AllFilesDone() = 0;
  // The file could not be downloaded: `code` is shown to the user.
  virtual void DownloadFailed(const DownloadEntry& e, int code) = 0;
  virtual void Trace(const std::string&) {}
};

class DownloadScheduler {
 public:
  // Downloads of one file that may end without a usable file before the
  // failure is reported.
  static constexpr int kMaxFileFailures = 3;
  // Code shown when a file's data stays bad (FTTR_ERR_BAD_DATA).
  static constexpr int kBadDataCode = 24;
  // Watchdog ticks without a notice before a reconnect.
  static constexpr int kWatchdogTicks = 6;
  // Waiting files asked for ahead of their turn.
  static constexpr int kRequestAhead = 5;

  DownloadScheduler(OnlineFileList& list, DownloadActions& actions) : m_list(list), m_actions(actions) {}

  void StartDownload(uint32_t files, uint32_t connections);
  void ReStartDownload(uint32_t files, uint32_t connections);
  void DownloadFiles();
  bool DownloadFile(int32_t nFileID, int connections);
  bool DispatchConnToNode(int32_t nFileID, int n);
  // The server answered DOWNLOADFILE_FT and the file's task runs.
  void MarkRunning(int32_t nFileID);
  void NoticeTaskStatus(const TransferNotice& notice);
  // A decoder finished; `ok` false: missing, bad or unwritable file.
  void OnFileDecoded(int32_t nFileID, bool ok);
  // Timer 101: true when the downloads stalled and the client must reconnect.
  bool WatchdogTick();
  // Connections and downloads are gone (reconnect or disconnect).
  void ConnectionsLost() { nCurConnCount = 0; nCurDownloadCount = 0; }

  // Bytes downloaded: size x progress over every file to download.
  uint64_t DownloadedBytes() const;
  // Overall percentage 0-100 of the total size.
  int OverallPercent() const;
  bool Downloading() const { return m_bDownloading; }
  bool Failed() const { return m_bFailed; }
  bool Finished() const { return m_bFinished; }
  int PendingDecodes() const { return m_nPendingDecodes; }

  uint32_t nMaxDownloadCount = 5, nCurDownloadCount = 0;
  uint32_t nMaxConnCount = 5, nCurConnCount = 0;
  int m_iReConnect = 0;

 private:
  void ReDownLoadFile(int progress, DownloadEntry& e, bool failed, bool permanent, uint16_t result);
  void ReturnToWaiting(DownloadEntry& e);
  // Counts a download that ended without a usable file; false once the
  // failure has been reported.
  bool CountFailure(DownloadEntry& e, int code);
  void CheckAllDone();

  OnlineFileList& m_list;
  DownloadActions& m_actions;
  bool m_bDownloading = false, m_bFailed = false, m_bFinished = false;
  int m_nPendingDecodes = 0;
};

}  // namespace update
