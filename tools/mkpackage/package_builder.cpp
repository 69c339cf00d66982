#include "base/fs_path.h"
#include "base/utf16.h"
#include "tools/mkpackage/package_builder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "base/fixed_field.h"
#include "base/path_join.h"
#include "base/utf16.h"
#include "setup/package/instance_marker.h"
#include "setup/package/lzma_stream.h"
#include "setup/package/package_header.h"
#include "setup/package/payload_table.h"
#include "tools/mkpackage/manifest.h"

namespace fs = std::filesystem;

namespace mkpackage {
namespace {

// The setup program reads the package with 32-bit signed offsets and sizes.
constexpr uint64_t kMaxPackageSize = 0x7FFFFFFF;

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0);
  out.resize(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(out.data()), size);
  return static_cast<std::streamoff>(in.gcount()) == size;
}

struct SourceFile {
  fs::path path;
  std::u16string relative;  // backslashes
  uint64_t size;
};

bool CollectFiles(const fs::path& dir, std::vector<SourceFile>& files, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    error = "--files: \"" + vx::PathToUtf8(dir) + "\" is not a folder";
    return false;
  }
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::u16string rel = vx::Utf8ToUtf16(vx::PathToUtf8(fs::relative(it->path(), dir, ec)));
    std::replace(rel.begin(), rel.end(), u'/', u'\\');
    if (!vx::IsSafeRelativePath(rel)) {
      error = "payload path \"" + vx::Utf16ToUtf8(rel) + "\" is not a plain relative path";
      return false;
    }
    if (rel.size() > vx::FieldCapacity(package::kPathFieldSize)) {
      error = "payload path \"" + vx::Utf16ToUtf8(rel) + "\" is longer than 259 characters";
      return false;
    }
    files.push_back({it->path(), rel, static_cast<uint64_t>(it->file_size(ec))});
  }
  if (ec) {
    error = "--files: cannot list \"" + vx::PathToUtf8(dir) + "\": " + ec.message();
    return false;
  }
  std::sort(files.begin(), files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; });
  return true;
}

// Compresses every file on `threads` workers; streams come back in file order.
bool CompressAll(const std::vector<SourceFile>& files, unsigned threads,
                 std::vector<std::vector<uint8_t>>& streams, std::vector<char>& stored,
                 const std::function<void(const std::string&)>& progress, std::string& error) {
  streams.assign(files.size(), {});
  stored.assign(files.size(), 0);
  std::atomic<size_t> next{0}, done{0};
  std::atomic<uint64_t> bytesDone{0};
  std::atomic<bool> failed{false};
  std::mutex errorLock;
  auto worker = [&] {
    std::vector<uint8_t> data;
    for (size_t i; !failed && (i = next++) < files.size();) {
      if (!ReadWholeFile(files[i].path, data)) {
        std::lock_guard<std::mutex> lock(errorLock);
        error = "cannot read \"" + vx::PathToUtf8(files[i].path) + "\"";
        failed = true;
        return;
      }
      bool isStored = false;
      // An empty file is an empty stream (L = 0), not a stream that decodes to nothing.
      if (!data.empty()) streams[i] = package::EncodeStream(data.data(), data.size(), &isStored);
      stored[i] = isStored;
      bytesDone += data.size();
      ++done;
    }
  };
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(files.size(), 1)));
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(worker);

  // A progress line every second once the run takes longer than a second.
  uint64_t total = 0;
  for (const auto& f : files) total += f.size;
  auto nextReport = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  bool shown = false;
  while (done < files.size() && !failed) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!progress || std::chrono::steady_clock::now() < nextReport) continue;
    nextReport += std::chrono::seconds(1);
    char line[128];
    std::snprintf(line, sizeof line, "compressing: %zu/%zu files, %llu/%llu MB", done.load(),
                  files.size(), static_cast<unsigned long long>(bytesDone.load() >> 20),
                  static_cast<unsigned long long>(total >> 20));
    progress(line);
    shown = true;
  }
  for (auto& t : pool) t.join();
  if (shown && progress && !failed) progress("compressing: done");
  return !failed;
}

}  // namespace

bool BuildPackage(const BuildOptions& o, BuildSummary& summary, std::string& error) {
  summary = {};
  std::vector<uint8_t> manifestText;
  if (!ReadWholeFile(vx::PathFromUtf8(o.manifestPath), manifestText)) {
    error = "--manifest: cannot read \"" + o.manifestPath + "\"";
    return false;
  }
  Manifest manifest;
  if (!ParseManifest(std::string(manifestText.begin(), manifestText.end()), manifest, error))
    return false;

  std::vector<uint8_t> image;
  if (!ReadWholeFile(vx::PathFromUtf8(o.stubPath), image)) {
    error = "--stub: cannot read \"" + o.stubPath + "\"";
    return false;
  }
  auto group = package::FindMarkerGroup(image.data(), image.size());
  if (!group) {
    error = "--stub: \"" + o.stubPath + "\" has no single instance marker group (not a setup program)";
    return false;
  }
  // A stub that already carries a package contributes only its program image.
  if (group->headerOffset != 0 && group->headerOffset <= image.size()) image.resize(group->headerOffset);
  if (image.size() > kMaxPackageSize) {
    error = "--stub: too large";
    return false;
  }

  if (!o.onlineServers.empty()) {
    manifest.header.OnlineInstall = 1;
    manifest.header.ServerListForm = 0;
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

  std::vector<std::vector<uint8_t>> streams;
  std::vector<char> stored;
  if (!CompressAll(files, o.threads, streams, stored, o.progress, error)) return false;

  package::PayloadWriter payload;
  if (!payload.Begin(static_cast<uint32_t>(files.size()), manifest.PackageKind, error)) return false;
  uint64_t packageSize = image.size() + header.size();
  const fs::path out = vx::PathFromUtf8(o.outputPath);
  const fs::path part = vx::PathFromUtf8(o.outputPath + ".part");
  std::ofstream file(part, std::ios::binary | std::ios::trunc);
  if (!file) {
    error = "-o: cannot write \"" + vx::PathToUtf8(part) + "\"";
    return false;
  }
  const uint32_t headerOffset = static_cast<uint32_t>(image.size());
  package::PatchMarkerGroup(image.data(), group->position,
                            o.update ? package::kUpdateMarker : package::kFreshMarker, headerOffset);
  file.write(reinterpret_cast<const char*>(image.data()), image.size());
  file.write(reinterpret_cast<const char*>(header.data()), header.size());
  auto flush = [&] {
    const std::vector<uint8_t> bytes = payload.Take();
    packageSize += bytes.size();
    file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  };
  bool ok = true;
  for (size_t i = 0; ok && i < files.size(); ++i) {
    ok = payload.AddEntry(files[i].relative, streams[i], error);
    std::vector<uint8_t>().swap(streams[i]);
    flush();
    if (packageSize > kMaxPackageSize) {
      error = "the package exceeds the format's limit of 2 GiB";
      ok = false;
    }
  }
  ok = ok && payload.End(manifest.ExtraFolders, error);
  if (ok) flush();
  file.close();
  if (ok && !file) {
    error = "-o: write to \"" + vx::PathToUtf8(part) + "\" failed";
    ok = false;
  }
  std::error_code ec;
  if (ok) {
    fs::rename(part, out, ec);
    if (ec) {
      error = "-o: cannot create \"" + o.outputPath + "\": " + ec.message();
      ok = false;
    }
  }
  if (!ok) {
    fs::remove(part, ec);
    return false;
  }
  summary.files = static_cast<uint32_t>(files.size());
  summary.stored = static_cast<uint32_t>(std::count(stored.begin(), stored.end(), 1));
  summary.totalSize = totalSize;
  summary.packageSize = packageSize;
  summary.headerOffset = headerOffset;
  return true;
}

}  // namespace mkpackage
