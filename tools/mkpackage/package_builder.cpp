#include "base/fs_path.h"
#include "base/utf16.h"
#include "tools/mkpackage/package_builder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/utf16.h"
#include "setup/package/instance_marker.h"
#include "setup/package/lzma_encoder.h"
#include "setup/package/lzma_stream.h"
#include "setup/package/package_header.h"
#include "setup/package/payload_table.h"
#include "tools/mkpackage/file_collector.h"
#include "tools/mkpackage/manifest.h"
#include "base/memory_budget.h"
#include "tools/mkpackage/shortcut_checks.h"
#include "tools/mkpackage/stream_spool.h"

namespace fs = std::filesystem;

namespace mkpackage {
namespace {

// The setup program reads the package with 32-bit signed offsets and sizes.
constexpr uint64_t kMaxPackageSize = 0x7FFFFFFF;
// Enough of a stub to hold its program image.
constexpr size_t kStubScanLimit = 64 << 20;
// Finished streams waiting for their turn keep at most this much of the
// memory budget (an eighth of it when that is less); encoders run side by side
// while their memory fits in the rest, and one encoder alone always runs (the
// format's dictionary needs about 185 MiB).
constexpr uint64_t kSpoolMemoryBudget = 32ull << 20;
constexpr size_t kReadPiece = 1 << 20;
// Files from this size on are probed before the full pass.
constexpr uint64_t kProbeFrom = 1 << 20;
constexpr size_t kProbeSamples = 4;
constexpr size_t kProbeSample = 64 << 10;

bool ReadSmallFile(const fs::path& path, size_t limit, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.resize(limit);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(limit));
  out.resize(static_cast<size_t>(in.gcount()));
  return !in.bad();
}

// One file's stream: stored (copied from the source by the writer) or
// compressed into its spool.
struct Job {
  const SourceFile* file = nullptr;
  uint64_t memory = 0;
  bool done = false;
  bool stored = false;
  std::unique_ptr<StreamSpool> spool;
  std::string error;
};

class Packer {
 public:
  Packer(const std::vector<SourceFile>& files, const BuildOptions& o, uint64_t memory, const fs::path& spoolBase)
      : m_level(static_cast<int>(o.level)),
        m_spoolBase(spoolBase),
        m_spoolBudget(std::min(kSpoolMemoryBudget, memory / 8)),
        m_encoderBudget(memory - m_spoolBudget) {
    m_jobs.resize(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      m_jobs[i].file = &files[i];
      m_jobs[i].memory = package::EncoderMemory(m_level, files[i].size) + kReadPiece;
      m_pending.push_back(i);
    }
    // Largest first, so that no large file is left for one worker at the end.
    std::stable_sort(m_pending.begin(), m_pending.end(),
                     [&](size_t a, size_t b) { return files[a].size > files[b].size; });
    unsigned threads = o.threads ? o.threads : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(files.size(), 1)));
    for (unsigned t = 0; t < threads; ++t) m_workers.emplace_back([this] { Work(); });
  }

  ~Packer() {
    Stop();
    for (auto& t : m_workers) t.join();
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bStop = true;
    m_changed.notify_all();
  }

  // Waits up to `wait` for job i; null while it is not done.
  Job* Finished(size_t i, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait_for(lock, wait, [&] { return m_jobs[i].done; });
    return m_jobs[i].done ? &m_jobs[i] : nullptr;
  }

  uint64_t BytesDone() const { return m_nBytesDone; }

  // The most encoders that ran at once and the most memory they were counted for.
  void Peaks(unsigned& encoders, uint64_t& memory) {
    std::lock_guard<std::mutex> lock(m_lock);
    encoders = m_nMostEncoders;
    memory = m_nMostMemory;
  }

 private:
  void Work() {
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(m_lock);
        auto pick = m_pending.end();
        m_changed.wait(lock, [&] {
          if (m_bStop || m_pending.empty()) return true;
          pick = std::find_if(m_pending.begin(), m_pending.end(), [&](size_t i) {
            return m_nMemoryInUse == 0 || m_nMemoryInUse + m_jobs[i].memory <= m_encoderBudget;
          });
          return pick != m_pending.end();
        });
        if (m_bStop || m_pending.empty()) return;
        index = *pick;
        m_pending.erase(pick);
        m_nMemoryInUse += m_jobs[index].memory;
        m_nMostMemory = std::max(m_nMostMemory, m_nMemoryInUse);
        m_nMostEncoders = std::max(m_nMostEncoders, ++m_nEncoders);
      }
      Job result;
      Pack(index, result);
      std::lock_guard<std::mutex> lock(m_lock);
      Job& job = m_jobs[index];
      job.stored = result.stored;
      job.spool = std::move(result.spool);
      job.error = std::move(result.error);
      job.done = true;
      m_nMemoryInUse -= job.memory;
      --m_nEncoders;
      if (!job.error.empty()) m_bStop = true;
      m_changed.notify_all();
    }
  }

  void Pack(size_t index, Job& job) {
    const SourceFile& f = *m_jobs[index].file;
    const std::string name = "\"" + vx::PathToUtf8(f.path) + "\"";
    if (f.size == 0) return;  // an empty file is an empty stream (L = 0)
    if (f.size > kMaxPackageSize) {
      job.error = name + " is larger than the format's 2 GiB";
      return;
    }
    std::ifstream in(f.path, std::ios::binary);
    if (!in) {
      job.error = "cannot read " + name;
      return;
    }
    std::vector<uint8_t> piece(kReadPiece);
    if (f.size >= kProbeFrom) {
      // Samples spread over the file at the fastest level.
      std::vector<uint8_t> sample;
      for (size_t s = 0; s < kProbeSamples; ++s) {
        in.seekg(static_cast<std::streamoff>((f.size - kProbeSample) / (kProbeSamples - 1) * s));
        in.read(reinterpret_cast<char*>(piece.data()), kProbeSample);
        sample.insert(sample.end(), piece.begin(), piece.begin() + in.gcount());
      }
      if (!in) {
        job.error = "cannot read " + name;
        return;
      }
      if (package::LooksIncompressible(sample.data(), sample.size())) {
        job.stored = true;
        m_nBytesDone += f.size;
        return;
      }
      in.seekg(0);
    }
    job.spool = std::make_unique<StreamSpool>(
        m_spoolBase.string() + "." + std::to_string(index), m_spoolMemory, m_spoolBudget);
    bool grew = false, spoolFailed = false;
    package::StreamEncoder encoder(static_cast<uint32_t>(f.size), m_level, [&](const uint8_t* d, size_t n) {
      if (m_bStop) return false;
      if (job.spool->Size() + n > f.size + package::kStreamHeaderSize) return !(grew = true);
      return job.spool->Append(d, n) || !(spoolFailed = true);
    });
    uint64_t left = f.size;
    bool ok = true;
    while (ok && left > 0) {
      const size_t want = left < piece.size() ? static_cast<size_t>(left) : piece.size();
      in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(want));
      if (static_cast<size_t>(in.gcount()) != want) {
        job.error = name + " changed while it was packed (shorter than " + std::to_string(f.size) + " bytes)";
        return;
      }
      left -= want;
      m_nBytesDone += want;
      ok = encoder.Feed(piece.data(), want, left == 0);
    }
    if (ok && in.peek() != std::char_traits<char>::eof()) {
      job.error = name + " changed while it was packed (longer than " + std::to_string(f.size) + " bytes)";
      return;
    }
    if (grew) {
      // Compressing made it larger: the stored form.
      job.spool.reset();
      job.stored = true;
      m_nBytesDone += left;
      return;
    }
    if (!ok) job.error = m_bStop ? "stopped" : spoolFailed ? "cannot write a temporary file next to the output"
                                                           : "cannot compress " + name;
  }

  const int m_level;
  const fs::path m_spoolBase;
  const uint64_t m_spoolBudget;
  const uint64_t m_encoderBudget;
  std::vector<Job> m_jobs;
  std::vector<size_t> m_pending;
  std::mutex m_lock;
  std::condition_variable m_changed;
  uint64_t m_nMemoryInUse = 0;
  unsigned m_nEncoders = 0;
  unsigned m_nMostEncoders = 0;
  uint64_t m_nMostMemory = 0;
  std::atomic<bool> m_bStop{false};
  std::atomic<uint64_t> m_spoolMemory{0};
  std::atomic<uint64_t> m_nBytesDone{0};
  std::vector<std::thread> m_workers;
};

// Copies the stored form of a file: header, then the file as it is now.
bool CopyStored(const SourceFile& f, std::ostream& out, std::string& error) {
  const std::vector<uint8_t> head = package::StoredStreamHeader(static_cast<uint32_t>(f.size));
  out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  std::ifstream in(f.path, std::ios::binary);
  std::vector<char> piece(kReadPiece);
  uint64_t left = f.size;
  while (in && left > 0) {
    const size_t n = left < piece.size() ? static_cast<size_t>(left) : piece.size();
    in.read(piece.data(), static_cast<std::streamsize>(n));
    if (static_cast<size_t>(in.gcount()) != n) break;
    out.write(piece.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  if (left != 0 || in.peek() != std::char_traits<char>::eof()) {
    error = "\"" + vx::PathToUtf8(f.path) + "\" changed while it was packed";
    return false;
  }
  return true;
}

bool WriteAll(std::ostream& out, const std::vector<uint8_t>& bytes) {
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool WritePackage(const BuildOptions& o, const Manifest& manifest, std::vector<uint8_t>& image,
                  const package::MarkerGroup& group, const std::vector<SourceFile>& files,
                  const std::vector<uint8_t>& header, std::ofstream& file, const fs::path& part,
                  BuildSummary& summary, std::string& error) {
  package::PayloadWriter payload;
  if (!payload.Begin(static_cast<uint32_t>(files.size()), manifest.PackageKind, error)) return false;
  const uint32_t headerOffset = static_cast<uint32_t>(image.size());
  package::PatchMarkerGroup(image.data(), group.position,
                            o.update ? package::kUpdateMarker : package::kFreshMarker, headerOffset);
  uint64_t packageSize = image.size() + header.size();
  WriteAll(file, image);
  WriteAll(file, header);
  std::vector<uint8_t>().swap(image);

  summary.memoryBudget = o.memory ? o.memory : vx::MemoryBudgetFor(vx::PhysicalMemory());
  Packer packer(files, o, summary.memoryBudget, part);
  uint64_t total = 0;
  for (const auto& f : files) total += f.size;
  auto nextReport = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  bool shown = false;
  for (size_t i = 0; i < files.size(); ++i) {
    Job* job;
    while (!(job = packer.Finished(i, std::chrono::milliseconds(200)))) {
      if (!o.progress || std::chrono::steady_clock::now() < nextReport) continue;
      nextReport += std::chrono::seconds(1);
      char line[128];
      std::snprintf(line, sizeof line, "packing: %zu/%zu files written, %llu/%llu MB read", i, files.size(),
                    static_cast<unsigned long long>(packer.BytesDone() >> 20),
                    static_cast<unsigned long long>(total >> 20));
      o.progress(line);
      shown = true;
    }
    if (!job->error.empty()) {
      error = job->error;
      return false;
    }
    const SourceFile& f = files[i];
    const uint64_t length = f.size == 0 ? 0 : job->stored ? f.size + package::kStreamHeaderSize : job->spool->Size();
    packageSize += package::kPathFieldSize + 4 + length;
    if (packageSize > kMaxPackageSize) {
      error = "the package exceeds the format's limit of 2 GiB";
      return false;
    }
    if (!payload.AddEntryHead(f.relative, static_cast<uint32_t>(length), error)) return false;
    if (!WriteAll(file, payload.Take())) break;
    if (length == 0) {
    } else if (job->stored) {
      if (!CopyStored(f, file, error)) return false;
      ++summary.stored;
    } else if (!job->spool->CopyTo(file)) {
      error = "cannot copy a temporary file next to the output";
      return false;
    }
    job->spool.reset();
  }
  if (!payload.End(manifest.ExtraFolders, error)) return false;
  const std::vector<uint8_t> tail = payload.Take();
  packageSize += tail.size();
  WriteAll(file, tail);
  file.close();
  if (!file) {
    error = "-o: write to \"" + vx::PathToUtf8(part) + "\" failed";
    return false;
  }
  packer.Peaks(summary.mostEncodersAtOnce, summary.encoderMemory);
  if (shown && o.progress) o.progress("packing: done");
  summary.packageSize = packageSize;
  summary.headerOffset = headerOffset;
  return true;
}

}  // namespace

bool BuildPackage(const BuildOptions& o, BuildSummary& summary, std::string& error) {
  summary = {};
  if (o.level > static_cast<unsigned>(package::kMaxLevel)) {
    error = "--level: 0-9";
    return false;
  }
  std::vector<uint8_t> manifestText;
  if (!ReadSmallFile(vx::PathFromUtf8(o.manifestPath), 16 << 20, manifestText)) {
    error = "--manifest: cannot read \"" + o.manifestPath + "\"";
    return false;
  }
  Manifest manifest;
  if (!ParseManifest(std::string(manifestText.begin(), manifestText.end()), manifest, error))
    return false;
  const CaptionLanguage* fallback = nullptr;
  if (!o.captionFallback.empty() && !(fallback = FindCaptionLanguage(o.captionFallback))) {
    error = "--caption-fallback \"" + o.captionFallback + "\": expected Gb, Big5, En or Jp";
    return false;
  }
  std::vector<std::string> filled;
  if (!CheckShortcutCaptions(manifest.header, fallback, filled, error)) return false;
  if (o.notice)
    for (const auto& line : filled) o.notice(line);

  std::vector<uint8_t> image;
  if (!ReadSmallFile(vx::PathFromUtf8(o.stubPath), kStubScanLimit, image)) {
    error = "--stub: cannot read \"" + o.stubPath + "\"";
    return false;
  }
  auto group = package::FindMarkerGroup(image.data(), image.size());
  if (!group) {
    error = "--stub: \"" + o.stubPath + "\" has no single instance marker group (not a setup program)";
    return false;
  }
  // A stub that already carries a package contributes only its program image.
  if (group->headerOffset != 0 && group->headerOffset <= image.size()) {
    image.resize(group->headerOffset);
  } else if (image.size() == kStubScanLimit) {
    error = "--stub: too large";
    return false;
  }

  if (!o.onlineServers.empty()) {
    manifest.header.OnlineInstall = 1;
    manifest.header.ServerListForm = o.addressServers ? 1 : 0;
    manifest.header.UpdateServers = vx::Utf8ToUtf16(o.onlineServers);
    manifest.header.OnlineProductCode = vx::Utf8ToUtf16(o.onlineProductCode.empty() ? "0" : o.onlineProductCode);
  }
  // An online package carries no files: the update server has them.
  std::vector<SourceFile> files;
  if (manifest.header.OnlineInstall == 0) {
    if (o.filesDir.empty()) {
      error = "--files: required for a package that is not an online one";
      return false;
    }
    if (!CollectFiles(vx::PathFromUtf8(o.filesDir), files, error)) return false;
    std::vector<std::u16string> packed;
    for (const auto& f : files) packed.push_back(f.relative);
    if (o.notice)
      for (const auto& line : MissingTargetWarnings(manifest.header, packed)) o.notice(line);
  }
  uint64_t totalSize = 0;
  for (const auto& f : files) totalSize += f.size;
  if (totalSize > 0x7FFFFFFF) {
    error = "TotalSize: the files add up to " + std::to_string(totalSize) +
            " bytes, over the format's 32-bit limit";
    return false;
  }
  manifest.header.TotalSize = static_cast<int32_t>(totalSize);

  std::vector<uint8_t> header;
  if (!package::WriteHeader(manifest.header, header, error)) return false;

  const fs::path out = vx::PathFromUtf8(o.outputPath);
  const fs::path part = vx::PathFromUtf8(o.outputPath + ".part");
  std::ofstream file(part, std::ios::binary | std::ios::trunc);
  if (!file) {
    error = "-o: cannot write \"" + vx::PathToUtf8(part) + "\"";
    return false;
  }
  bool ok = WritePackage(o, manifest, image, *group, files, header, file, part, summary, error);
  std::error_code ec;
  if (ok) {
    fs::rename(part, out, ec);
    if (ec) {
      error = "-o: cannot create \"" + o.outputPath + "\": " + ec.message();
      ok = false;
    }
  }
  if (!ok) {
    file.close();
    fs::remove(part, ec);
    return false;
  }
  summary.files = static_cast<uint32_t>(files.size());
  summary.totalSize = totalSize;
  return true;
}

}  // namespace mkpackage
