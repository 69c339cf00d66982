#pragma once
// VX_FtTaskMgr: the receiving side of file transfer. Receive tasks
// (VX_FileRecvTask) fetch one file each from the transfer service over the
// connections of their nodes, write it into "<local file>.sd!" with a
// progress record so that an interrupted transfer resumes, and move it to the
// local file when complete. Connections to a sender that takes a further
// AUTH wait a while for the next task. Tasks run on the manager's threads
// under its lock; notices reach the sink on the manager's own thread.
#include <cstdint>
#include "base/file_path.h"
#include <memory>
#include <string>

#include "update/ftt_types.h"

namespace ftt {

struct TaskNotice {
  int32_t taskType = FTT_TASK_RECVFILE;
  uint16_t result = 0;
  std::u16string fileKey;
  int node = -1;       // -1: the task as a whole
  int progress = 0;    // tenths of a percent
  uintptr_t wParam = 0, lParam = 0;
  uint64_t currentLength = 0;
  int32_t nodeMaxConnections = 0;  // with FTTR_NODE_STATE_CHANGED
};

class FttNoticeSink {
 public:
  virtual ~FttNoticeSink() = default;
  // Must not block.
  virtual void OnNoticeTaskStatus(const TaskNotice& notice) = 0;
};

class VX_FtTaskMgr {
 public:
  VX_FtTaskMgr();
  ~VX_FtTaskMgr();  // stops
  VX_FtTaskMgr(const VX_FtTaskMgr&) = delete;
  VX_FtTaskMgr& operator=(const VX_FtTaskMgr&) = delete;

  bool FttMgrStart();
  void FttMgrStop();
  // Waits for a notice being delivered; after it returns the old sink is not
  // called again. Not to be called from the sink.
  void SetNoticeSink(FttNoticeSink* sink);
  // Where the tasks' connections go.
  void SetTransferService(const std::string& address, uint16_t port);

  uint16_t CreateRecvTask(const std::u16string& fileKey, bool listen, const vx::FilePath& localFile,
                          uintptr_t wParam, uintptr_t lParam, bool flag, const std::u16string& fileIdentity);
  // Stops the task (its temporary file stays for a later resume); notice 13.
  uint16_t RemoveTask(bool receive, const std::u16string& fileKey);
  bool IsExistTask(bool receive, const std::u16string& fileKey);
  uint16_t AddNode(bool receive, const std::u16string& fileKey, const NodeRecord& node);
  uint16_t SetNodeMaxConnectionCnt(bool receive, const std::u16string& fileKey, int node, int count);
  size_t TaskCount();
  // Data bytes received by every task since the start; any thread.
  uint64_t ReceivedBytes() const;

  static vx::FilePath TemporaryFile(const vx::FilePath& localFile);
  static bool HasTemporaryFile(const vx::FilePath& localFile);

  // Request size, in bytes, and requests kept out on one connection (so that
  // it does not idle for a round trip between them).
  static constexpr int32_t kRequestLength = 256 * 1024;
  static constexpr int kRequestsInFlight = 2;
  // The progress record is rewritten after this many new bytes.
  static constexpr int64_t kSaveInterval = 1 << 20;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_pImpl;
};

}  // namespace ftt
