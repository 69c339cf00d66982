#pragma once
// The extraction walk's file operations on the host: the walk's Windows-style
// paths below `prefix` map to the folder `root`; nothing outside it is touched
// and no link inside it is followed. A target is written under a temporary
// name beside it and takes its own name only when CommitFile is called for it.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "setup/install/install_file_system.h"

namespace mkpackage {

// The package file, read sequentially from any position.
class HostPackageFile : public setup::PackageFile {
 public:
  explicit HostPackageFile(const std::filesystem::path& path);
  bool ok() const { return static_cast<bool>(m_in); }
  size_t Read(void* out, size_t n) override;
  bool Seek(uint64_t offset) override;
  uint64_t Tell() override { return m_nPosition; }
  bool AtEnd() override { return m_nPosition >= m_nSize; }
  // Where the last seek went: once the walk is done, the end of the last stream.
  uint64_t LastSeek() const { return m_nLastSeek; }

 private:
  std::ifstream m_in;
  uint64_t m_nSize = 0, m_nPosition = 0, m_nLastSeek = 0;
};

class HostFileSystem : public setup::InstallFileSystem {
 public:
  // `prefix` ends with a backslash and stands for `root`, which exists.
  HostFileSystem(std::filesystem::path package, std::filesystem::path root, std::u16string prefix);

  std::unique_ptr<setup::PackageFile> OpenPackage() override;
  std::u16string PackagePath() override;
  bool Exists(const std::u16string& path) override;
  setup::DirectoryResult MakeDirectory(const std::u16string& path) override;
  void ClearAttributes(const std::u16string&) override {}
  bool InUse(const std::u16string&) override { return false; }
  std::unique_ptr<setup::TargetFile> OpenForWrite(const std::u16string& path) override;
  // A target not yet committed loses only its temporary file.
  void Delete(const std::u16string& path) override;
  bool RemoveEmptyFolder(const std::u16string& path) override;

  // Gives the last target opened its own name; false (the temporary file
  // removed) when that fails.
  bool CommitFile(const std::u16string& path);

  uint64_t BytesWritten() const { return m_nBytesWritten; }  // so far, of committed files or not
  uint64_t BytesCommitted() const { return m_nBytesCommitted; }
  // Why the last failed operation failed.
  const std::string& LastError() const { return m_lastError; }
  // The last target opened could not be written.
  bool WriteFailed() const { return m_bWriteFailed; }

 private:
  friend class HostTarget;
  // The host path of a walk path below the prefix; empty when it is outside
  // or passes through a link (`leafMayBeLink`: the last name may be one, as a
  // target that a rename replaces).
  std::optional<std::filesystem::path> Map(const std::u16string& path, bool leafMayBeLink);

  const std::filesystem::path m_package, m_root;
  const std::u16string m_prefix;
  std::optional<std::filesystem::path> m_pendingTarget;  // opened, not committed
  std::atomic<uint64_t> m_nBytesWritten{0};
  uint64_t m_nPendingBytes = 0, m_nBytesCommitted = 0;
  std::string m_lastError;
  bool m_bWriteFailed = false;
};

}  // namespace mkpackage
