#include "setup/wizard/download_start.h"

namespace setup {

void OnDownloadPageTimer(DownloadStartHost& host, unsigned id) {
  switch (id) {
    case kDownloadPrepareTimer:
      // Not in yet (the client still connecting or reconnecting): the timer
      // keeps ticking; a client that gives up reports it and ends the wizard.
      if (!host.FileListIn()) return;
      host.StopPageTimer(kDownloadPrepareTimer);
      if (host.PrepareInstallFolder()) host.StartPageTimer(kDownloadStartTimer, 100);
      break;
    case kDownloadStartTimer:
      host.StopPageTimer(kDownloadStartTimer);
      host.StartDownload();
      host.StartPageTimer(kDownloadSpeedTimer, 1000);
      break;
    case kDownloadSpeedTimer:
      host.ShowSpeed();
      break;
  }
}

}  // namespace setup
