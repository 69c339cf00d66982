#include "update/download_scheduler.h"

#include <algorithm>

#include "base/utf16.h"
#include "update/ftt_types.h"

namespace update {

NoticeKind ClassifyNotice(uint16_t r) {
  using namespace ftt;
  if (r == FTTR_OPERATE_SUCCESS) return NoticeKind::kNothing;
  if (r == FTTR_ERR_PROGRESS) return NoticeKind::kProgress;
  if (r == FTTR_ERR_TASK_NO_EXIST || r == FTTR_ERR_FILE_OPEN_ERROR || r == FTTR_ERR_NO_ENOUGH_DISK_SPACE ||
      r == FTTR_ERR_BAD_DATA || r == FTTR_ERR_CANT_CREATE_TARGET_FILE || r == FTTR_ERR_AUTHNOTEXIST ||
      r == FTTR_ERR_CONN || r == FTTR_ERR_FILE_DELETE || (r >= 0x1C && r <= 0x1FF) || r > FTTR_NODE_STATE_CHANGED)
    return NoticeKind::kFailed;
  return NoticeKind::kTraced;
}

bool IsPermanentTaskFailure(uint16_t r) {
  using namespace ftt;
  return r == FTTR_ERR_FILE_OPEN_ERROR || r == FTTR_ERR_FILE_READ_WRITE_ERROR ||
         r == FTTR_ERR_NO_ENOUGH_DISK_SPACE || r == FTTR_ERR_CANT_CREATE_TARGET_FILE;
}

void DownloadScheduler::StartDownload(uint32_t files, uint32_t connections) {
  if (nCurDownloadCount != 0 || nCurConnCount != 0 || m_bFailed || m_bFinished) return;
  m_bDownloading = true;
  nMaxDownloadCount = files;
  nMaxConnCount = connections;
  DownloadFiles();
  m_iReConnect = 0;
  if (m_bDownloading) m_actions.RestartWatchdog();
}

void DownloadScheduler::ReStartDownload(uint32_t files, uint32_t connections) {
  if (m_bFailed || m_bFinished) return;
  if (m_list.m_lstNeedDownloadFiles.empty()) {
    m_bDownloading = true;
    CheckAllDone();
    return;
  }
  ConnectionsLost();
  for (int32_t id : m_list.m_lstNeedDownloadFiles) {
    DownloadEntry* e = m_list.Find(id);
    if (!e) continue;
    e->eFileStatus = kFileWaiting;
    e->connections = 0;
    e->progress = 0.0f;
    m_actions.EntryChanged(*e);
  }
  StartDownload(files, connections);
}

void DownloadScheduler::DownloadFiles() {
  while (nCurConnCount < nMaxConnCount && !m_bFailed) {
    DownloadEntry* waiting = nullptr;
    DownloadEntry* busiest = nullptr;
    int64_t largest = 0;
    uint32_t position = 0;
    for (int32_t id : m_list.m_lstNeedDownloadFiles) {
      DownloadEntry* e = m_list.Find(id);
      if (!e || e->eFileStatus == kFileDone) {
        ++position;
        continue;
      }
      if (!waiting && e->connections == 0) waiting = e;
      if (position < nMaxDownloadCount && e->connections > 0) {
        const int64_t share = int64_t(double(e->info.size) * (100.0 - e->progress) / e->connections);
        if (share > largest) largest = share, busiest = e;
      }
      ++position;
    }
    if (nCurDownloadCount < nMaxDownloadCount && waiting) {
      if (!DownloadFile(waiting->info.nFileID, 1)) {
        m_actions.Trace("DownloadFiles:DownloadFile Error!!!!!!!");
        ReStartDownload(5, 5);
        return;
      }
      continue;
    }
    if (!busiest) break;
    if (!DispatchConnToNode(busiest->info.nFileID, 1)) {
      m_actions.Trace("DownloadFiles:DispatchConnToNode Error!!!!!!!");
      ReStartDownload(5, 5);
      return;
    }
  }
  if (m_list.m_lstNeedDownloadFiles.empty()) {
    CheckAllDone();
    return;
  }
  // Every connection is busy: the next files are asked for now, so that a
  // freed connection goes on without waiting a round trip for an answer.
  int ahead = 0;
  for (int32_t id : m_list.m_lstNeedDownloadFiles) {
    if (ahead == kRequestAhead || m_bFailed) break;
    const DownloadEntry* e = m_list.Find(id);
    if (!e || e->eFileStatus != kFileWaiting || e->connections != 0 || e->info.type == kFileTypeNoDownload) continue;
    m_actions.RequestAhead(*e);
    ++ahead;
  }
}

bool DownloadScheduler::DownloadFile(int32_t nFileID, int connections) {
  DownloadEntry* e = m_list.Find(nFileID);
  if (!e || !m_list.IsNeeded(nFileID)) return false;
  if (e->info.type == kFileTypeNoDownload) {
    m_list.m_lstNeedDownloadFiles.remove(nFileID);
    e->eFileStatus = kFileDone;
    e->progress = 100.0f;
    m_actions.EntryChanged(*e);
    return true;
  }
  if (!m_actions.PrepareFolder(*e)) {
    m_bFailed = true;
    m_bDownloading = false;
    m_actions.DownloadFailed(*e, ftt::FTTR_ERR_CANT_CREATE_TARGET_FILE);
    return true;
  }
  m_actions.RequestFile(*e);
  e->connections = connections;
  nCurConnCount += uint32_t(connections);
  ++nCurDownloadCount;
  e->eFileStatus = kFileRequested;
  return true;
}

bool DownloadScheduler::DispatchConnToNode(int32_t nFileID, int n) {
  DownloadEntry* e = m_list.Find(nFileID);
  if (!e || e->connections <= 0) return false;
  nCurConnCount += uint32_t(n);
  e->connections += n;
  m_actions.SetTaskConnections(*e, e->connections);
  return true;
}

void DownloadScheduler::MarkRunning(int32_t nFileID) {
  DownloadEntry* e = m_list.Find(nFileID);
  if (e && e->eFileStatus == kFileRequested) e->eFileStatus = kFileRunning;
}

void DownloadScheduler::NoticeTaskStatus(const TransferNotice& n) {
  if (n.fileKey.empty()) return;
  m_iReConnect = 0;
  DownloadEntry* e = m_list.FindByKey(n.fileKey);
  if (!e || m_bFailed || m_bFinished || e->eFileStatus == kFileDone) return;
  const NoticeKind kind = ClassifyNotice(n.result);
  // A task that ended on a file it cannot write will not do better by waiting.
  const bool permanent = n.node < 0 && IsPermanentTaskFailure(n.result);
  if (kind == NoticeKind::kProgress)
    ReDownLoadFile(n.progress, *e, false, false, n.result);
  else if (kind == NoticeKind::kFailed || permanent)
    ReDownLoadFile(n.progress, *e, true, permanent, n.result);
  else if (kind == NoticeKind::kTraced)
    m_actions.Trace("[NoticeTaskStatus] " + vx::Utf16ToUtf8(n.fileKey) + " result " + ftt::ResultName(n.result));
}

void DownloadScheduler::ReDownLoadFile(int progress, DownloadEntry& e, bool failed, bool permanent,
                                       uint16_t result) {
  e.progress = float(std::clamp(progress, 0, 1000)) / 10.0f;
  m_actions.EntryChanged(e);
  if (progress != ftt::NEDDISK_RATE && !failed) return;
  if (!m_list.IsNeeded(e.info.nFileID)) return;
  if (e.eFileStatus == kFileRequested || e.eFileStatus == kFileRunning) {
    nCurConnCount -= std::min(nCurConnCount, uint32_t(std::max(e.connections, 0)));
    if (nCurDownloadCount > 0) --nCurDownloadCount;
  }
  if (!m_actions.TemporaryFileExists(e)) {
    m_actions.Trace("[ReDownLoadFile " + vx::Utf16ToUtf8(e.info.strFileKey) + "]");
    // A task that ended (complete without its file, or on a permanent
    // failure) cannot be fed again: a new request starts a new one.
    if (!failed || permanent) m_actions.RemoveTask(e);
    ReturnToWaiting(e);
    if (permanent) {
      if (CountFailure(e, result)) DownloadFiles();
    }
    return;
  }
  if (failed) m_actions.RemoveTask(e);
  e.eFileStatus = kFileDone;
  e.connections = 0;
  m_list.m_lstNeedDownloadFiles.remove(e.info.nFileID);
  ++m_nPendingDecodes;
  m_actions.StartDecoding(e);
  DownloadFiles();
}

void DownloadScheduler::ReturnToWaiting(DownloadEntry& e) {
  e.eFileStatus = kFileWaiting;
  e.connections = 0;
  e.progress = 0.0f;
  m_actions.EntryChanged(e);
}

bool DownloadScheduler::CountFailure(DownloadEntry& e, int code) {
  if (++e.failures < kMaxFileFailures) return true;
  m_bFailed = true;
  m_bDownloading = false;
  m_actions.DownloadFailed(e, code);
  return false;
}

void DownloadScheduler::OnFileDecoded(int32_t nFileID, bool ok) {
  if (m_nPendingDecodes > 0) --m_nPendingDecodes;
  DownloadEntry* e = m_list.Find(nFileID);
  if (!e || m_bFailed) return;
  if (ok) {
    m_actions.EntryChanged(*e);
    CheckAllDone();
    return;
  }
  m_actions.Trace("[OnFileDecoded] bad download of " + vx::Utf16ToUtf8(e->info.strFileKey));
  m_actions.RemoveTask(*e);
  m_actions.DiscardDownload(*e);
  ReturnToWaiting(*e);
  if (!CountFailure(*e, kBadDataCode)) return;
  m_list.m_lstNeedDownloadFiles.push_back(nFileID);
  DownloadFiles();
}

bool DownloadScheduler::WatchdogTick() {
  if (!m_bDownloading || m_list.m_lstNeedDownloadFiles.empty()) return false;
  if (m_iReConnect > kWatchdogTicks) {
    m_iReConnect = 0;
    return true;
  }
  ++m_iReConnect;
  return false;
}

void DownloadScheduler::CheckAllDone() {
  if (m_bFailed || m_bFinished || !m_bDownloading) return;
  if (!m_list.m_lstNeedDownloadFiles.empty() || m_nPendingDecodes > 0) return;
  m_bDownloading = false;
  m_bFinished = true;
  m_actions.AllFilesDone();
}

uint64_t DownloadScheduler::DownloadedBytes() const {
  uint64_t bytes = 0;
  for (const auto& [id, e] : m_list.m_mapFileInfos) {
    if (e.info.type == kFileTypeDirectory || e.info.type == kFileTypeNoDownload) continue;
    bytes = uint64_t(double(bytes) + double(e.info.size) * double(e.progress) / 100.0);
  }
  return bytes;
}

int DownloadScheduler::OverallPercent() const {
  if (m_list.m_ulTotalSize == 0) return m_bFinished ? 100 : 0;
  return int(std::min<uint64_t>(100, DownloadedBytes() * 100 / m_list.m_ulTotalSize));
}

}  // namespace update
