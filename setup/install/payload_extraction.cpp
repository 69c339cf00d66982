#include "setup/install/payload_extraction.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/fixed_field.h"
#include "base/path_join.h"
#include "setup/package/lzma_stream.h"
#include "setup/package/payload_table.h"

namespace setup {
namespace {

constexpr size_t kReadPiece = 1 << 20;

// Decoding ahead: pieces handed to the walk, and how much decoded output an
// entry may hold before the walk takes it (the entry being written, the one
// after it).
constexpr size_t kQueuePiece = 256 << 10;
constexpr size_t kActiveBound = 1 << 20;
constexpr size_t kAheadBound = 6 << 20;

bool ReadField(package::ByteSource& in, size_t width, std::u16string& text) {
  std::vector<uint8_t> field(width);
  if (!package::ReadExact(in, field.data(), width)) return false;
  text = vx::DecodeFixedField(field.data(), width);
  return true;
}

// Decodes the stream of the entry at one package offset on its own thread,
// into a bounded queue of pieces, while the walk handles the entries before
// it. Nothing reaches a target until the walk takes the pieces in its turn.
class StreamJob {
 public:
  StreamJob(std::unique_ptr<PackageFile> package, uint64_t entryOffset)
      : m_package(std::move(package)), m_offset(entryOffset), m_thread([this] { Run(); }) {}
  ~StreamJob() { Stop(); }
  StreamJob(const StreamJob&) = delete;
  StreamJob& operator=(const StreamJob&) = delete;

  uint64_t Offset() const { return m_offset; }

  // True when the job read the entry's header and its stream size is `size`.
  bool Matches(uint32_t size) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_headerKnown || m_done; });
    return m_headerKnown && m_size == size;
  }

  // Writes the decoded pieces to `target` in order. True when the stream
  // decoded whole and every write succeeded, as ExtractFile returning L.
  bool WriteTo(TargetFile& target) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bound = kActiveBound;
    m_changed.notify_all();
    for (;;) {
      m_changed.wait(lock, [this] { return !m_pieces.empty() || m_done; });
      if (m_pieces.empty()) return m_decoded;
      std::vector<uint8_t> piece = std::move(m_pieces.front());
      m_pieces.pop_front();
      m_queued -= piece.size();
      m_changed.notify_all();
      lock.unlock();
      const bool written = target.Write(piece.data(), piece.size());
      lock.lock();
      if (!written) {
        m_cancelled = true;
        m_changed.notify_all();
        return false;
      }
    }
  }

  // The package file, for the next job once this one has ended.
  std::unique_ptr<PackageFile> TakePackage() {
    Stop();
    return std::move(m_package);
  }

 private:
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_cancelled = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }

  class QueueTarget : public TargetFile {
   public:
    explicit QueueTarget(StreamJob& job) : m_job(job) {}
    bool Write(const uint8_t* data, size_t size) override {
      m_piece.insert(m_piece.end(), data, data + size);
      return m_piece.size() < kQueuePiece || Flush();
    }
    bool Close() override { return m_piece.empty() || Flush(); }

   private:
    bool Flush() {
      std::vector<uint8_t> piece;
      piece.swap(m_piece);
      return m_job.Push(std::move(piece));
    }
    StreamJob& m_job;
    std::vector<uint8_t> m_piece;
  };

  bool Push(std::vector<uint8_t> piece) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_cancelled || m_queued < m_bound; });
    if (m_cancelled) return false;
    m_queued += piece.size();
    m_pieces.push_back(std::move(piece));
    m_changed.notify_all();
    return true;
  }

  void Run() {
    uint8_t path[package::kPathFieldSize];
    uint32_t size = 0;
    const bool header = m_package->Seek(m_offset) && package::ReadExact(*m_package, path, sizeof path) &&
                        package::ReadLe32(*m_package, size);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_headerKnown = header;
      m_size = size;
      if (!header) m_done = true;
    }
    m_changed.notify_all();
    if (!header) return;
    QueueTarget queue(*this);
    const bool decoded = size > 0 && ExtractFile(queue, *m_package, size) == size && queue.Close();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_decoded = decoded;
      m_done = true;
    }
    m_changed.notify_all();
  }

  std::unique_ptr<PackageFile> m_package;
  const uint64_t m_offset;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::vector<uint8_t>> m_pieces;
  size_t m_queued = 0;
  size_t m_bound = kAheadBound;
  bool m_headerKnown = false, m_done = false, m_decoded = false, m_cancelled = false;
  uint32_t m_size = 0;
  std::thread m_thread;  // last: starts once the members above exist
};

// Package files for the jobs: two (one for the entry being written, one for
// the entry after it) when a second core can decode.
class DecodeAhead {
 public:
  explicit DecodeAhead(InstallFileSystem& fs) {
    if (std::thread::hardware_concurrency() < 2) return;
    for (int i = 0; i < 2; ++i)
      if (auto file = fs.OpenPackage()) m_spare.push_back(std::move(file));
  }
  // A job for the entry at `entryOffset`, or nullptr when no package file is free.
  std::unique_ptr<StreamJob> Start(uint64_t entryOffset) {
    if (m_spare.empty()) return nullptr;
    auto file = std::move(m_spare.back());
    m_spare.pop_back();
    try {
      return std::make_unique<StreamJob>(std::move(file), entryOffset);
    } catch (const std::exception&) {  // no thread: decode in the walk
      return nullptr;
    }
  }
  void End(std::unique_ptr<StreamJob>& job) {
    if (!job) return;
    if (auto file = job->TakePackage()) m_spare.push_back(std::move(file));
    job.reset();
  }

 private:
  std::vector<std::unique_ptr<PackageFile>> m_spare;
};

}  // namespace

int MakeDirectoryPath(InstallFileSystem& fs, const std::u16string& path, size_t start, std::u16string& folder,
                      std::u16string& rest, std::vector<std::u16string>* created) {
  if (path.size() < start) return kDirectoryFailed;
  int result = kDirectoryExisted;
  size_t processed = start;
  for (size_t i = start; i < path.size(); ++i) {
    if (path[i] != u'\\') continue;
    const DirectoryResult r = fs.MakeDirectory(path.substr(0, i + 1));
    result = r == DirectoryResult::Created         ? kDirectoryCreated
             : r == DirectoryResult::AlreadyExists ? kDirectoryExisted
                                                   : kDirectoryFailed;
    if (created && r == DirectoryResult::Created) created->push_back(path.substr(0, i + 1));
    processed = i + 1;
  }
  folder = path.substr(0, processed);
  rest = path.substr(processed);
  return result;
}

uint32_t ExtractFile(TargetFile& target, package::ByteSource& package, uint32_t size) {
  if (size == 0) return 0;
  package::StreamDecoder decoder(
      [&target](const uint8_t* data, size_t n) { return target.Write(data, n); });
  std::vector<uint8_t> piece(size < kReadPiece ? size : kReadPiece);
  uint32_t left = size;
  package::StreamDecoder::Status st = package::StreamDecoder::Status::NeedInput;
  while (left > 0 && st == package::StreamDecoder::Status::NeedInput) {
    const size_t want = left < piece.size() ? left : piece.size();
    if (!package::ReadExact(package, piece.data(), want)) return 0;  // the package ends inside the stream
    left -= uint32_t(want);
    st = decoder.Feed(piece.data(), want, left == 0);
  }
  if (st != package::StreamDecoder::Status::Done || decoder.Produced() == 0) return 0;
  return size;
}

namespace {

bool OpenOwnFile(InstallFileSystem& fs, ExtractionReporter& reporter, std::unique_ptr<PackageFile>& package) {
  while (!(package = fs.OpenPackage()))
    if (!reporter.RetryOpenPackage(fs.PackagePath())) return false;
  return true;
}

}  // namespace

bool OpenPackageForOnlineRun(InstallFileSystem& fs, SetupState& s, ExtractionReporter& reporter,
                             std::unique_ptr<PackageFile>& package) {
  if (!OpenOwnFile(fs, reporter, package)) return false;
  s.InstallDir = vx::WithTrailingBackslash(s.InstallDir);
  return true;
}

bool ExtractPayload(InstallFileSystem& fs, SetupState& s, uint64_t payloadOffset, ExtractionReporter& reporter,
                    std::unique_ptr<PackageFile>& package) {
  if (!OpenOwnFile(fs, reporter, package)) return false;

  s.InstallDir = vx::WithTrailingBackslash(s.InstallDir);
  const size_t start = s.InstallDir.size();

  uint32_t fileCount = 0;
  if (!package->Seek(payloadOffset) || !package::ReadLe32(*package, fileCount) ||
      !ReadField(*package, package::kPackageKindSize, s.PackageKind)) {
    reporter.PackageUnreadable();
    return false;
  }
  s.FileCount = fileCount;
  reporter.SetFileCount(fileCount);

  std::u16string folder, rest;
  s.InstallDirCreated = false;
  s.CreatedFoldersKnown = true;
  s.CreatedFolders.clear();
  if (!fs.Exists(s.InstallDir)) {
    const int made = MakeDirectoryPath(fs, s.InstallDir, 0, folder, rest);
    if (made == kDirectoryFailed) {
      reporter.InstallDirFailed(s.InstallDir);
      return false;
    }
    s.InstallDirCreated = made == kDirectoryCreated;
  }
  std::vector<std::u16string> created;
  // Relative, without the trailing backslash.
  const auto keepCreated = [&] {
    for (const auto& prefix : created) s.CreatedFolders.push_back(prefix.substr(start, prefix.size() - start - 1));
    created.clear();
  };
  reporter.OutputFolder(s.InstallDir);

  const std::u16string uninstaller = s.InstallDir + u"uninstall.exe";
  if (fs.Exists(uninstaller)) {
    fs.ClearAttributes(uninstaller);
    if (fs.InUse(uninstaller)) {
      reporter.InUse(uninstaller);
      return false;
    }
  }

  // What this run made, taken back when the user stops it: files that were
  // not there before, then the folders it created, deepest first.
  std::vector<std::u16string> written;
  const auto takeBack = [&] {
    for (auto it = written.rbegin(); it != written.rend(); ++it) fs.Delete(*it);
    for (auto it = s.CreatedFolders.rbegin(); it != s.CreatedFolders.rend(); ++it)
      fs.RemoveEmptyFolder(s.InstallDir + *it);
    if (s.InstallDirCreated) fs.RemoveEmptyFolder(s.InstallDir);  // not its parents: they may be the user's
    s.InstalledFiles.clear();
    s.CreatedFolders.clear();
  };

  // The entry being handled and the one after it decode on their own threads.
  DecodeAhead ahead(fs);
  std::unique_ptr<StreamJob> current, next;
  for (uint32_t i = 0; i < fileCount; ++i) {
    const uint64_t entryOffset = package->Tell();
    ahead.End(current);
    if (next && next->Offset() == entryOffset) current = std::move(next);
    ahead.End(next);
    if (!current) current = ahead.Start(entryOffset);
    if (reporter.StopRequested()) {
      takeBack();
      return false;
    }

    std::u16string path;
    if (!ReadField(*package, package::kPathFieldSize, path)) {
      reporter.PackageUnreadable();
      return false;
    }
    const std::u16string target = s.InstallDir + path;
    // A path that would leave the destination is refused like a bad stream.
    if (!vx::IsSafeRelativePath(path)) {
      reporter.DecodeFailed(target);
      return false;
    }
    s.InstalledFiles.push_back(path);

    const int made = MakeDirectoryPath(fs, target, start, folder, rest, &created);
    keepCreated();
    if (made == kDirectoryFailed) {
      reporter.FolderFailed(folder);
      return false;
    }
    if (made == kDirectoryCreated) reporter.FolderCreated(folder);
    const std::u16string fileName = rest;  // the bare file name

    uint32_t size = 0;
    if (!package::ReadLe32(*package, size)) {
      reporter.PackageUnreadable();
      return false;
    }
    const uint64_t streamPosition = package->Tell();
    if (i + 1 < fileCount) next = ahead.Start(streamPosition + size);
    const bool existed = fs.Exists(target);
    if (existed) {
      fs.ClearAttributes(target);
      if (fs.InUse(target)) {
        reporter.InUse(target);
        return false;
      }
    }

    std::unique_ptr<TargetFile> out;
    bool skipped = false;
    while (!skipped && !(out = fs.OpenForWrite(target))) {
      const auto choice = reporter.OpenForWriteFailed(target, fileName);
      if (choice == ExtractionReporter::WriteChoice::Abort) return false;
      skipped = choice == ExtractionReporter::WriteChoice::Ignore;
    }
    if (!skipped) {
      bool decoded = size == 0;
      if (!decoded && current && current->Matches(size))
        decoded = current->WriteTo(*out);
      else if (!decoded)
        decoded = ExtractFile(*out, *package, size) == size;
      const bool closed = out->Close();  // a failed flush is a short write too
      out.reset();
      if (!decoded || !closed) {
        fs.Delete(target);
        reporter.DecodeFailed(target);
        return false;
      }
      if (!existed) written.push_back(target);
      reporter.FileWritten(target, fileName);
    }
    if (!package->Seek(streamPosition + size) || package->AtEnd()) {
      reporter.PackageUnreadable();
      return false;
    }
  }

  // Extra folders: one directory each, errors ignored.
  uint32_t extraCount = 0;
  if (!package::ReadLe32(*package, extraCount)) return true;
  for (uint32_t i = 0; i < extraCount; ++i) {
    std::u16string path;
    if (!ReadField(*package, package::kPathFieldSize, path)) break;
    if (vx::IsSafeRelativePath(path) && fs.MakeDirectory(s.InstallDir + path) == DirectoryResult::Created) {
      std::u16string relative = path;
      while (!relative.empty() && (relative.back() == u'\\' || relative.back() == u'/')) relative.pop_back();
      s.CreatedFolders.push_back(relative);
    }
  }
  return true;
}

}  // namespace setup
