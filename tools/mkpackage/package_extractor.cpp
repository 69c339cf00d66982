#include "base/fs_path.h"
#include "tools/mkpackage/package_extractor.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/fixed_field.h"
#include "base/path_join.h"
#include "base/utf16.h"
#include "setup/install/payload_extraction.h"
#include "setup/package/lzma_stream.h"
#include "setup/package/payload_table.h"
#include "tools/mkpackage/extract_reporter.h"
#include "tools/mkpackage/host_file_system.h"

namespace fs = std::filesystem;

namespace mkpackage {
namespace {

// Calls `report` once a second on a thread of its own until destroyed.
class Ticker {
 public:
  explicit Ticker(std::function<void()> report) : m_report(std::move(report)) {
    if (m_report) m_thread = std::thread([this] { Run(); });
  }
  ~Ticker() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bStop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_changed.wait_for(lock, std::chrono::seconds(1), [this] { return m_bStop; })) m_report();
  }
  std::function<void()> m_report;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_bStop = false;
  std::thread m_thread;
};

bool IsRefused(const std::u16string& path) { return !vx::IsSafeRelativePath(path); }

void AddLine(std::string& text, const std::string& line) { text += (text.empty() ? "" : "\n") + line; }

std::string Refusal(const std::string& entry, const std::u16string& path) {
  return entry + " \"" + PrintableText(path) + "\": " + kPathLeavesFolder;
}

std::string Numbered(const char* what, size_t number, size_t count) {
  return what + std::to_string(number) + " of " + std::to_string(count);
}

// The extra folders after the last stream, checked for what the walk passes
// over quietly: it creates those whose path stays inside, skips the others
// and stops where the package ends.
bool CheckExtraFolders(HostPackageFile& package, uint64_t offset, std::string& error) {
  uint32_t count = 0;
  if (!package.Seek(offset) || !package::ReadLe32(package, count)) {
    error = "the package ends before its extra folders";
    return false;
  }
  uint8_t field[package::kPathFieldSize];
  for (uint32_t i = 0; i < count; ++i) {
    const std::string entry = Numbered("ExtraFolders entry ", i + 1, count);
    if (!package::ReadExact(package, field, sizeof field)) {
      AddLine(error, "the package ends inside " + entry);
      return false;
    }
    const std::u16string path = vx::DecodeFixedField(field, sizeof field);
    if (IsRefused(path)) AddLine(error, Refusal(entry, path));
  }
  return error.empty();
}

}  // namespace

bool ExtractPackage(const ExtractOptions& o, ExtractSummary& summary, std::string& error) {
  summary = {};
  PackageInfo info;
  if (!ReadPackageHead(o.packagePath, info, error)) return false;
  const fs::path root = vx::PathFromUtf8(o.dir);
  std::error_code ec;
  fs::create_directories(root, ec);
  if (!fs::is_directory(root, ec)) {
    error = "cannot create the folder \"" + o.dir + "\"" + (ec ? ": " + ec.message() : "");
    return false;
  }

  setup::SetupState state;
  state.InstallDir = vx::WithTrailingBackslash(vx::Utf8ToUtf16(o.dir));
  HostFileSystem files(vx::PathFromUtf8(o.packagePath), root, state.InstallDir);
  ExtractReporter reporter(files, state);
  std::unique_ptr<setup::PackageFile> package;
  bool ok, reported = false;
  {
    const uint64_t total = static_cast<uint32_t>(info.header.TotalSize);
    Ticker ticker(o.progress ? std::function<void()>([&] {
      char line[128];
      std::snprintf(line, sizeof line, "extracting: %u/%u files written, %llu/%llu MB written",
                    reporter.FilesWritten(), reporter.FileCount(),
                    static_cast<unsigned long long>(files.BytesWritten() >> 20),
                    static_cast<unsigned long long>(total >> 20));
      o.progress(line);
      reported = true;
    })
                             : nullptr);
    // Every core decodes; 32 MiB may wait for the writes.
    const unsigned cores = std::thread::hardware_concurrency();
    const setup::DecodeAhead ahead{cores < 2 ? 1 : cores > 8 ? 8 : cores, 32u << 20};
    ok = setup::ExtractPayload(files, state, info.payloadOffset, reporter, package, ahead);
  }
  if (reported) o.progress("extracting: done");
  summary.files = reporter.FilesWritten();
  summary.foldersCreated = reporter.FoldersCreated();
  summary.bytes = files.BytesCommitted();
  if (!ok || !reporter.Error().empty()) {
    error = reporter.Error().empty() ? "extraction stopped" : reporter.Error();
    return false;
  }
  // The walk's own handle (this file system opened it) is where the last stream ended.
  auto& own = static_cast<HostPackageFile&>(*package);
  const uint64_t afterStreams = state.FileCount ? own.LastSeek() : info.payloadOffset + 4 + package::kPackageKindSize;
  return CheckExtraFolders(own, afterStreams, error);
}

bool ListPayload(const PackageInfo& info, std::ostream& out, std::string& error) {
  error.clear();
  uint64_t total = 0;
  for (const auto& e : info.payload.entries)
    if (e.streamSize >= package::kStreamHeaderSize) total += package::DeclaredSize(e.streamHead);
  out << "PackageKind \"" << PrintableText(info.payload.PackageKind) << "\", " << info.payload.entries.size()
      << " files, " << total << " bytes, " << info.payload.ExtraFolders.size() << " extra folders\n";
  out << "      size      stream  form    path\n";
  const auto& entries = info.payload.entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    const package::PayloadEntry& e = entries[i];
    const bool whole = e.streamSize >= package::kStreamHeaderSize;
    const char* form = e.streamSize == 0                        ? "empty"
                       : !whole                                 ? "short"
                       : package::IsStoredStream(e.streamHead) ? "stored"
                                                                : "lzma";
    char line[64];
    std::snprintf(line, sizeof line, "%10llu  %10u  %-6s  ",
                  static_cast<unsigned long long>(whole ? package::DeclaredSize(e.streamHead) : 0), e.streamSize,
                  form);
    const bool refused = IsRefused(e.path);
    out << line << PrintableText(e.path) << (refused ? "  (refused)" : "") << "\n";
    if (refused) AddLine(error, Refusal(Numbered("entry ", i + 1, entries.size()), e.path));
  }
  const auto& folders = info.payload.ExtraFolders;
  for (size_t i = 0; i < folders.size(); ++i) {
    const bool refused = IsRefused(folders[i]);
    out << "    folder                      " << PrintableText(folders[i]) << (refused ? "  (refused)" : "") << "\n";
    if (refused) AddLine(error, Refusal(Numbered("ExtraFolders entry ", i + 1, folders.size()), folders[i]));
  }
  return error.empty();
}

}  // namespace mkpackage
