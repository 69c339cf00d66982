#include "setup/install/payload_extraction.h"

#include <vector>

#include "base/fixed_field.h"
#include "base/path_join.h"
#include "setup/install/decode_pipeline.h"
#include "setup/package/lzma_stream.h"
#include "setup/package/payload_table.h"

namespace setup {
namespace {

constexpr size_t kReadPiece = 1 << 20;

bool ReadField(package::ByteSource& in, size_t width, std::u16string& text) {
  std::vector<uint8_t> field(width);
  if (!package::ReadExact(in, field.data(), width)) return false;
  text = vx::DecodeFixedField(field.data(), width);
  return true;
}

}  // namespace

int MakeDirectoryPath(InstallFileSystem& fs, const std::u16string& path, size_t start, std::u16string& folder,
                      std::u16string& rest, FolderLog* log) {
  if (path.size() < start) return kDirectoryFailed;
  int result = kDirectoryExisted;
  size_t processed = start;
  for (size_t i = start; i < path.size(); ++i) {
    if (path[i] != u'\\') continue;
    std::u16string prefix = path.substr(0, i + 1);
    const DirectoryResult r =
        log && log->known.count(prefix) ? DirectoryResult::AlreadyExists : fs.MakeDirectory(prefix);
    result = r == DirectoryResult::Created         ? kDirectoryCreated
             : r == DirectoryResult::AlreadyExists ? kDirectoryExisted
                                                   : kDirectoryFailed;
    if (log && r == DirectoryResult::Created) log->created.push_back(prefix);
    if (log && r != DirectoryResult::Failed) log->known.insert(std::move(prefix));
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
                    std::unique_ptr<PackageFile>& package, DecodeAhead ahead) {
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
  FolderLog folders;
  // Folders this run created (with their backslash): nothing in them existed
  // before, so their targets are not looked up (a lookup that fails reads
  // the whole folder on some file systems).
  std::unordered_set<std::u16string> madeHere;
  if (s.InstallDirCreated) madeHere.insert(s.InstallDir);
  // Relative, without the trailing backslash.
  const auto keepCreated = [&] {
    for (auto& prefix : folders.created) {
      s.CreatedFolders.push_back(prefix.substr(start, prefix.size() - start - 1));
      madeHere.insert(std::move(prefix));
    }
    folders.created.clear();
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

  const auto pipeline = DecodePipeline::Start(fs, package->Tell(), fileCount, ahead);
  for (uint32_t i = 0; i < fileCount; ++i) {
    const uint64_t entryOffset = package->Tell();
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

    const int made = MakeDirectoryPath(fs, target, start, folder, rest, &folders);
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
    const bool existed = !madeHere.count(folder) && fs.Exists(target);
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
      if (!decoded) {
        const auto piped = pipeline ? pipeline->WriteTo(entryOffset, size, *out) : std::nullopt;
        decoded = piped ? *piped : ExtractFile(*out, *package, size) == size;
      }
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
