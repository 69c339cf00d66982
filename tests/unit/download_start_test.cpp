#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/wizard/download_start.h"

using namespace setup;

namespace {

struct FakeStart : DownloadStartHost {
  bool listIn = false, prepared = true;
  std::vector<std::string> calls;
  bool FileListIn() override { return listIn; }
  bool PrepareInstallFolder() override {
    calls.push_back("prepare");
    return prepared;
  }
  void StartPageTimer(unsigned id, unsigned ms) override {
    calls.push_back("start " + std::to_string(id) + " " + std::to_string(ms));
  }
  void StopPageTimer(unsigned id) override { calls.push_back("stop " + std::to_string(id)); }
  void StartDownload() override { calls.push_back("download"); }
  void ShowSpeed() override { calls.push_back("speed"); }
};

}  // namespace

TEST(DownloadStart, TheFolderWaitsForTheFileListThenTheTransfersStart) {
  FakeStart host;
  for (int tick = 0; tick < 3; ++tick) OnDownloadPageTimer(host, kDownloadPrepareTimer);
  EXPECT_TRUE(host.calls.empty());  // the timer keeps ticking
  host.listIn = true;
  for (unsigned id : {kDownloadPrepareTimer, kDownloadStartTimer, kDownloadSpeedTimer, kDownloadSpeedTimer})
    OnDownloadPageTimer(host, id);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"stop 1", "prepare", "start 0 100", "stop 0", "download",
                                                  "start 2 1000", "speed", "speed"}));
}

TEST(DownloadStart, AFolderThatCannotBePreparedStartsNothing) {
  FakeStart host;
  host.listIn = true;
  host.prepared = false;  // the client has shown its error box
  OnDownloadPageTimer(host, kDownloadPrepareTimer);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"stop 1", "prepare"}));
}
