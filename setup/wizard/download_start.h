#pragma once
// The download page's start, driven by timers on the destination page's
// window: timer 1 (every 50 ms from the page's entry) waits for the online
// client's file list, then prepares the install folder; timer 0 (once, 100 ms
// later) starts the transfers; timer 2 then shows the speed every second.

namespace setup {

inline constexpr unsigned kDownloadStartTimer = 0, kDownloadPrepareTimer = 1, kDownloadSpeedTimer = 2;

class DownloadStartHost {
 public:
  virtual ~DownloadStartHost() = default;
  virtual bool FileListIn() = 0;
  // The file list below the install folder, its folders made; false when
  // the client has reported why not.
  virtual bool PrepareInstallFolder() = 0;
  virtual void StartPageTimer(unsigned id, unsigned periodMs) = 0;
  virtual void StopPageTimer(unsigned id) = 0;
  virtual void StartDownload() = 0;
  virtual void ShowSpeed() = 0;
};

void OnDownloadPageTimer(DownloadStartHost& host, unsigned id);

}  // namespace setup
