#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "update/download_scheduler.h"
#include "update/download_speed.h"
#include "update/stall_watch.h"
#include "update/ftt_types.h"

using update::DownloadEntry;
using update::DownloadScheduler;
using update::FileInfo;
using update::OnlineFileList;
using update::TransferNotice;

namespace {

struct FakeActions : update::DownloadActions {
  std::vector<int32_t> requested, ahead;
  std::vector<std::pair<int32_t, int>> connections;  // SetTaskConnections calls
  std::set<int32_t> withTemporary;
  std::vector<int32_t> removed, discarded, decoding;
  std::vector<std::pair<int32_t, int>> failed;
  bool folderFails = false;
  int allDone = 0, watchdog = 0;

  void RequestFile(const DownloadEntry& e) override { requested.push_back(e.info.nFileID); }
  void RequestAhead(const DownloadEntry& e) override { ahead.push_back(e.info.nFileID); }
  void SetTaskConnections(const DownloadEntry& e, int count) override {
    connections.emplace_back(e.info.nFileID, count);
  }
  bool PrepareFolder(const DownloadEntry&) override { return !folderFails; }
  bool TemporaryFileExists(const DownloadEntry& e) override { return withTemporary.count(e.info.nFileID) > 0; }
  void RemoveTask(const DownloadEntry& e) override { removed.push_back(e.info.nFileID); }
  void DiscardDownload(const DownloadEntry& e) override {
    discarded.push_back(e.info.nFileID);
    withTemporary.erase(e.info.nFileID);
  }
  void StartDecoding(const DownloadEntry& e) override { decoding.push_back(e.info.nFileID); }
  void RestartWatchdog() override { ++watchdog; }
  void AllFilesDone() override { ++allDone; }
  void DownloadFailed(const DownloadEntry& e, int code) override { failed.emplace_back(e.info.nFileID, code); }
};

// Files 1..n with the given sizes, keys "f<id>".
struct Fixture {
  OnlineFileList list;
  FakeActions actions;
  DownloadScheduler scheduler{list, actions};

  explicit Fixture(const std::vector<int32_t>& sizes, std::vector<FileInfo> extra = {}) {
    std::vector<FileInfo> files = std::move(extra);
    for (size_t i = 0; i < sizes.size(); ++i) {
      FileInfo f;
      f.nFileID = int32_t(i + 1);
      f.size = sizes[i];
      f.strFileKey = Key(f.nFileID);
      files.push_back(f);
    }
    const std::vector<uint8_t> bytes = update::EncodeFileList(files);
    std::string error;
    EXPECT_TRUE(list.Load(bytes.data(), bytes.size(), u"C:\\Q\\", error)) << error;
  }
  static std::u16string Key(int32_t id) { return u"f" + std::u16string(1, char16_t(u'0' + id)); }
  void Notice(int32_t id, uint16_t result, int progress, int node = 0) {
    TransferNotice n;
    n.result = result;
    n.fileKey = Key(id);
    n.progress = progress;
    n.node = node;
    scheduler.NoticeTaskStatus(n);
  }
  void Complete(int32_t id) {
    actions.withTemporary.insert(id);
    Notice(id, ftt::FTTR_ERR_PROGRESS, 1000, -1);
  }
  const DownloadEntry& E(int32_t id) { return *list.Find(id); }
};

}  // namespace

TEST(DownloadScheduler, FiveFilesGetOneConnectionEach) {
  Fixture f({100, 100, 100, 100, 100, 100, 100});
  f.scheduler.StartDownload(5, 5);
  EXPECT_TRUE(f.scheduler.Downloading());
  EXPECT_EQ(f.actions.requested, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(f.actions.ahead, (std::vector<int32_t>{6, 7}));  // the waiting files, asked ahead
  EXPECT_TRUE(f.actions.connections.empty());
  EXPECT_EQ(f.scheduler.nCurConnCount, 5u);
  EXPECT_EQ(f.scheduler.nCurDownloadCount, 5u);
  EXPECT_EQ(f.actions.watchdog, 1);
  for (int32_t id = 1; id <= 5; ++id) {
    EXPECT_EQ(f.E(id).eFileStatus, update::kFileRequested);
    EXPECT_EQ(f.E(id).connections, 1);
  }
  f.scheduler.MarkRunning(1);
  EXPECT_EQ(f.E(1).eFileStatus, update::kFileRunning);
  // A finished file frees its connection for the next waiting file.
  f.Complete(1);
  EXPECT_EQ(f.E(1).eFileStatus, update::kFileDone);
  EXPECT_EQ(f.actions.decoding, std::vector<int32_t>{1});
  EXPECT_EQ(f.actions.requested.back(), 6);
  EXPECT_EQ(f.actions.ahead.back(), 7);
  EXPECT_EQ(f.scheduler.nCurConnCount, 5u);
  // A second start while downloading changes nothing.
  f.scheduler.StartDownload(5, 5);
  EXPECT_EQ(f.actions.requested.size(), 6u);
}

TEST(DownloadScheduler, SpareConnectionsGoToTheLargestRemainingShare) {
  Fixture f({100, 300, 200});
  f.scheduler.StartDownload(5, 5);
  EXPECT_EQ(f.actions.requested, (std::vector<int32_t>{1, 2, 3}));
  // 300 (share 30000) first, then 200 (20000) beats 300 with two (15000).
  EXPECT_EQ(f.actions.connections, (std::vector<std::pair<int32_t, int>>{{2, 2}, {3, 2}}));
  EXPECT_EQ(f.scheduler.nCurConnCount, 5u);
  EXPECT_EQ(f.scheduler.nCurDownloadCount, 3u);

  // Progress changes the shares: file 1 done frees one connection, which goes
  // to the file with most left per connection (file 3 at 10 %: 9000 each, file
  // 2 at 50 %: 7500 each).
  f.Notice(2, ftt::FTTR_ERR_PROGRESS, 500);
  f.Notice(3, ftt::FTTR_ERR_PROGRESS, 100);
  f.actions.connections.clear();
  f.Complete(1);
  EXPECT_EQ(f.actions.connections, (std::vector<std::pair<int32_t, int>>{{3, 3}}));
  EXPECT_EQ(f.scheduler.nCurConnCount, 5u);
  EXPECT_EQ(f.scheduler.nCurDownloadCount, 2u);

  // A tie goes to the first file; a file without anything left gets none.
  Fixture g({100, 100});
  g.scheduler.StartDownload(5, 3);
  EXPECT_EQ(g.actions.connections, (std::vector<std::pair<int32_t, int>>{{1, 2}}));
  Fixture h({0});
  h.scheduler.StartDownload(5, 5);
  EXPECT_TRUE(h.actions.connections.empty());
  EXPECT_EQ(h.scheduler.nCurConnCount, 1u);
}

TEST(DownloadScheduler, FinishesOnlyWhenEveryFileIsDecoded) {
  Fixture f({10, 20});
  f.scheduler.StartDownload(5, 5);
  f.Complete(1);
  f.Complete(2);
  EXPECT_TRUE(f.list.m_lstNeedDownloadFiles.empty());
  EXPECT_EQ(f.scheduler.PendingDecodes(), 2);
  EXPECT_EQ(f.actions.allDone, 0);  // decoders still run
  f.scheduler.OnFileDecoded(1, true);
  EXPECT_EQ(f.actions.allDone, 0);
  f.scheduler.OnFileDecoded(2, true);
  EXPECT_EQ(f.actions.allDone, 1);
  EXPECT_FALSE(f.scheduler.Downloading());
  EXPECT_TRUE(f.scheduler.Finished());
  EXPECT_EQ(f.scheduler.DownloadedBytes(), 30u);
  EXPECT_EQ(f.scheduler.OverallPercent(), 100);
  // Late notices change nothing.
  f.Notice(1, ftt::FTTR_ERR_CONN, 0);
  EXPECT_EQ(f.actions.allDone, 1);

  // Nothing to download: done at once.
  FileInfo dir, skip;
  dir.nFileID = 20, dir.type = -1, dir.strFileKey = u"d";
  skip.nFileID = 21, skip.type = 5, skip.size = 1000, skip.strFileKey = u"s";
  Fixture empty({}, {dir, skip});
  EXPECT_EQ(empty.list.m_ulTotalSize, 0u);
  empty.scheduler.StartDownload(5, 5);
  EXPECT_EQ(empty.actions.allDone, 1);
  EXPECT_TRUE(empty.actions.requested.empty());
}

TEST(DownloadScheduler, NoticeResultsFollowTheirTable) {
  using update::NoticeKind;
  EXPECT_EQ(update::ClassifyNotice(0), NoticeKind::kNothing);
  EXPECT_EQ(update::ClassifyNotice(0x203), NoticeKind::kProgress);
  for (uint16_t r : {4, 7, 14, 24, 26, 0x201, 0x207, 0x209, 0x1C, 0x1FF, 0x20B, 0xFFFF})
    EXPECT_EQ(update::ClassifyNotice(r), NoticeKind::kFailed) << r;
  for (uint16_t r : {1, 2, 3, 5, 6, 8, 9, 10, 11, 12, 13, 15, 20, 23, 25, 27, 0x200, 0x202, 0x204, 0x206, 0x208,
                     0x20A})
    EXPECT_EQ(update::ClassifyNotice(r), NoticeKind::kTraced) << r;

  Fixture f({100, 100});
  f.scheduler.StartDownload(5, 2);
  f.Notice(1, ftt::FTTR_ERR_PROGRESS, 250);
  EXPECT_FLOAT_EQ(f.E(1).progress, 25.0f);
  EXPECT_EQ(f.scheduler.DownloadedBytes(), 25u);
  EXPECT_EQ(f.scheduler.OverallPercent(), 12);
  // Traced results leave everything as it was.
  f.Notice(1, ftt::FTTR_ERR_OPERATE_ABORT, 250);
  f.Notice(1, ftt::FTTR_NODE_STATE_CHANGED, 250);
  EXPECT_EQ(f.E(1).eFileStatus, update::kFileRequested);
  EXPECT_EQ(f.scheduler.nCurConnCount, 2u);
  // Unknown keys and records without key are dropped.
  f.scheduler.m_iReConnect = 3;
  TransferNotice none;
  f.scheduler.NoticeTaskStatus(none);
  EXPECT_EQ(f.scheduler.m_iReConnect, 3);
  f.Notice(9, ftt::FTTR_ERR_CONN, 0);
  EXPECT_EQ(f.scheduler.m_iReConnect, 0);
  // A failed node without a temporary file: the file waits again, its task
  // goes on (a later request adds a node), and the next start picks it up.
  f.Notice(1, ftt::FTTR_ERR_CONN, 250);
  EXPECT_EQ(f.E(1).eFileStatus, update::kFileWaiting);
  EXPECT_EQ(f.E(1).connections, 0);
  EXPECT_FLOAT_EQ(f.E(1).progress, 0.0f);
  EXPECT_TRUE(f.actions.removed.empty());
  EXPECT_EQ(f.scheduler.nCurConnCount, 1u);
  EXPECT_EQ(f.scheduler.nCurDownloadCount, 1u);
  EXPECT_TRUE(f.actions.failed.empty());
  // Complete without its file (removed before the notice): downloaded again.
  f.Notice(2, ftt::FTTR_ERR_PROGRESS, 1000, -1);
  EXPECT_EQ(f.E(2).eFileStatus, update::kFileWaiting);
  EXPECT_EQ(f.actions.removed, std::vector<int32_t>{2});
  f.scheduler.DownloadFiles();
  EXPECT_EQ(f.actions.requested, (std::vector<int32_t>{1, 2, 1, 2}));
}

TEST(DownloadScheduler, BadDataIsDownloadedAgainThenReported) {
  Fixture f({100});
  f.scheduler.StartDownload(5, 5);
  for (int attempt = 1; attempt < DownloadScheduler::kMaxFileFailures; ++attempt) {
    f.Complete(1);
    f.scheduler.OnFileDecoded(1, false);
    EXPECT_EQ(f.actions.discarded.size(), size_t(attempt));
    EXPECT_EQ(f.actions.requested.size(), size_t(attempt + 1));  // asked again
    EXPECT_EQ(f.E(1).eFileStatus, update::kFileRequested);
    EXPECT_TRUE(f.actions.failed.empty());
  }
  f.Complete(1);
  f.scheduler.OnFileDecoded(1, false);
  ASSERT_EQ(f.actions.failed.size(), 1u);
  EXPECT_EQ(f.actions.failed[0], (std::pair<int32_t, int>{1, DownloadScheduler::kBadDataCode}));
  EXPECT_TRUE(f.scheduler.Failed());
  EXPECT_EQ(f.actions.allDone, 0);
  // Nothing runs after the report.
  f.scheduler.ReStartDownload(5, 5);
  EXPECT_EQ(f.actions.requested.size(), size_t(DownloadScheduler::kMaxFileFailures));
  EXPECT_FALSE(f.scheduler.WatchdogTick());
}

TEST(DownloadScheduler, PermanentTaskFailuresAreRetriedThenReported) {
  Fixture f({100, 100});
  f.scheduler.StartDownload(5, 5);
  for (int attempt = 1; attempt <= DownloadScheduler::kMaxFileFailures; ++attempt)
    f.Notice(1, ftt::FTTR_ERR_CANT_CREATE_TARGET_FILE, 0, -1);
  EXPECT_EQ(f.actions.removed.size(), size_t(DownloadScheduler::kMaxFileFailures));
  ASSERT_EQ(f.actions.failed.size(), 1u);
  EXPECT_EQ(f.actions.failed[0], (std::pair<int32_t, int>{1, ftt::FTTR_ERR_CANT_CREATE_TARGET_FILE}));
  // A write error of the whole task counts the same, although it is only
  // traced for one node.
  Fixture g({100});
  g.scheduler.StartDownload(5, 5);
  g.Notice(1, ftt::FTTR_ERR_FILE_READ_WRITE_ERROR, 0, 0);
  EXPECT_EQ(g.E(1).eFileStatus, update::kFileRequested);
  g.Notice(1, ftt::FTTR_ERR_FILE_READ_WRITE_ERROR, 0, -1);
  EXPECT_EQ(g.E(1).eFileStatus, update::kFileRequested);  // asked again at once
  EXPECT_EQ(g.actions.requested.size(), 2u);
  // A folder that cannot be made stops before the request.
  Fixture h({100});
  h.actions.folderFails = true;
  h.scheduler.StartDownload(5, 5);
  EXPECT_TRUE(h.actions.requested.empty());
  ASSERT_EQ(h.actions.failed.size(), 1u);
  EXPECT_EQ(h.actions.failed[0].second, ftt::FTTR_ERR_CANT_CREATE_TARGET_FILE);
}

TEST(DownloadScheduler, RestartAndWatchdog) {
  Fixture f({100, 100, 100});
  f.scheduler.StartDownload(5, 5);
  f.Notice(1, ftt::FTTR_ERR_PROGRESS, 400);
  // Eight silent seconds force a reconnect; a notice starts the count anew.
  for (int tick = 0; tick < 7; ++tick) EXPECT_FALSE(f.scheduler.WatchdogTick()) << tick;
  f.Notice(2, ftt::FTTR_ERR_PROGRESS, 10);
  for (int tick = 0; tick < 7; ++tick) EXPECT_FALSE(f.scheduler.WatchdogTick()) << tick;
  EXPECT_TRUE(f.scheduler.WatchdogTick());
  EXPECT_EQ(f.scheduler.m_iReConnect, 0);
  // The reconnect drops the connections; the restart begins every file again.
  f.scheduler.ConnectionsLost();
  f.actions.requested.clear();
  f.actions.connections.clear();
  f.scheduler.ReStartDownload(5, 5);
  EXPECT_EQ(f.actions.requested, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_FLOAT_EQ(f.E(1).progress, 0.0f);
  EXPECT_EQ(f.scheduler.nCurConnCount, 5u);
  EXPECT_EQ(f.actions.connections.size(), 2u);
  // Restarting with everything downloaded ends the download.
  f.Complete(1), f.Complete(2), f.Complete(3);
  for (int32_t id = 1; id <= 3; ++id) f.scheduler.OnFileDecoded(id, true);
  EXPECT_EQ(f.actions.allDone, 1);
  f.scheduler.ReStartDownload(5, 5);
  EXPECT_EQ(f.actions.allDone, 1);
}

TEST(DownloadSpeed, SizesAndSpeedFollowTheirFormats) {
  EXPECT_EQ(update::FormatSize(0), "0B");
  EXPECT_EQ(update::FormatSize(1023), "1023B");
  EXPECT_EQ(update::FormatSize(1024), "1KB");
  EXPECT_EQ(update::FormatSize(1048575), "1023KB");
  EXPECT_EQ(update::FormatSize(1048576), "1.0MB");
  EXPECT_EQ(update::FormatSize(1572864), "1.5MB");
  EXPECT_EQ(update::FormatSize(1073741824), "1.0GB");
  EXPECT_EQ(update::FormatSize(5ull << 30), "5.0GB");

  update::DownloadSpeed speed;
  auto t = speed.OnTick(0);  // nothing yet: 0 B/s
  EXPECT_EQ(t.speed, 0u);
  t = speed.OnTick(1000);
  EXPECT_EQ(t.speed, 500u);  // (0 + 1000) / 2
  t = speed.OnTick(3000);
  EXPECT_EQ(t.speed, 1000u);
  EXPECT_TRUE(speed.OnTick(2000).skipped);  // the total went down
  // A running average over at most ten ticks.
  update::DownloadSpeed avg;
  uint64_t total = 0;
  for (int i = 0; i < 30; ++i) t = avg.OnTick(total += 100);
  EXPECT_EQ(t.speed, 100u);
  for (int i = 0; i < 10; ++i) t = avg.OnTick(total += 1000);
  EXPECT_GT(t.speed, 800u);
}

// The stall rules against a made-up clock: a link with 300 ms round trips
// whose first byte comes 3.5 s after the restart, at 20 KB/s.
TEST(StallWatch, CountsOnlyOnceDataCouldHaveArrived) {
  using namespace std::chrono_literals;
  using update::StallWatch;
  const auto t0 = StallWatch::Clock::time_point{} + 1h;
  auto bytesAt = [&](StallWatch::Clock::time_point t) -> uint64_t {
    return t < t0 + 3500ms ? 0 : uint64_t((t - t0 - 3500ms) / 1ms) * 20;
  };
  StallWatch watch;
  watch.RoundTrip(300ms);
  EXPECT_FALSE(watch.SpeedTick(t0, 0));  // not started: never counts
  watch.Restart(t0);
  watch.TransferStarted(t0 + 300ms);  // counting from 0.3 + 3 x 0.3 + 2 s
  EXPECT_FALSE(watch.Counting(t0 + 3100ms));
  EXPECT_TRUE(watch.Counting(t0 + 3200ms));
  for (int s = 1; s <= 30; ++s) EXPECT_FALSE(watch.SpeedTick(t0 + s * 1s, bytesAt(t0 + s * 1s))) << s;
  // The data stops: the fifth tick without a byte is a stall, then the count restarts.
  const uint64_t last = bytesAt(t0 + 30s);
  for (int s = 31; s <= 34; ++s) EXPECT_FALSE(watch.SpeedTick(t0 + s * 1s, last)) << s;
  EXPECT_TRUE(watch.SpeedTick(t0 + 35s, last));
  EXPECT_FALSE(watch.SpeedTick(t0 + 36s, last));

  // No file answer at all: the count starts after the longest wait.
  watch.Restart(t0);
  EXPECT_FALSE(watch.Counting(t0 + StallWatch::kLongestWait - 1ms));
  EXPECT_TRUE(watch.Counting(t0 + StallWatch::kLongestWait));
  // A reconnect under way counts nothing until the next restart.
  watch.Suspend();
  for (int s = 61; s <= 70; ++s) EXPECT_FALSE(watch.SpeedTick(t0 + s * 1s, last)) << s;
  // Bytes seen by the watchdog.
  EXPECT_TRUE(watch.Grew(5));
  EXPECT_FALSE(watch.Grew(5));
}
