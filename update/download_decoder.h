#pragma once
// Turns a downloaded file (the compressed download file a receive task left
// at its temporary path) into the product file: decoded, checked against the
// length and digest the file list gives, written to its final path, the
// temporary file deleted. Decoders run on worker threads of their own; the
// owner joins them all before it goes on.
#include <condition_variable>
#include <cstdint>
#include "base/file_path.h"
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace update {

class UpdateLog;

struct DecodeJob {
  int32_t nFileID = 0;
  vx::FilePath temporary, final;
  uint64_t expectedSize = 0;
  std::string expectedDigest;  // 32 hex digits from the file list, or empty
};

// False with `error` (also written to `log` when given): temporary file
// missing or bad, length or digest not the listed ones, final file not
// writable. Nothing is deleted on failure; on success the temporary file goes.
bool DecodeDownloadedFile(const DecodeJob& job, UpdateLog* log, std::string& error);

// One worker thread per file.
class DecodeWorkers {
 public:
  using Done = std::function<void(int32_t nFileID, bool ok, const std::string& error)>;
  explicit DecodeWorkers(UpdateLog* log = nullptr) : m_log(log) {}
  ~DecodeWorkers() { JoinAll(); }
  DecodeWorkers(const DecodeWorkers&) = delete;
  DecodeWorkers& operator=(const DecodeWorkers&) = delete;

  // `done` is called on the worker thread once the file is decoded.
  void Start(DecodeJob job, Done done);
  // Waits for every worker started so far.
  void JoinAll();

 private:
  UpdateLog* m_log;
  std::mutex m_lock;
  std::vector<std::thread> m_threads;
};

// The file list's identity text when it is an MD5 digest, else empty.
std::string DigestOfIdentity(const std::u16string& fileIdText);

}  // namespace update
