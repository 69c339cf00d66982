#pragma once
// What `mkpackage extract` makes of the extraction walk's events: like a
// driven install it never asks and stops at the first failure; it keeps the
// first failure as one message naming the entry, and gives each target its
// own name once the walk reports it written.
#include <atomic>
#include <cstdint>
#include <string>

#include "setup/install/extraction_reporter.h"
#include "setup/startup/setup_state.h"
#include "tools/mkpackage/host_file_system.h"

namespace mkpackage {

// Why a payload path is refused.
extern const char kPathLeavesFolder[];

class ExtractReporter : public setup::ExtractionReporter {
 public:
  ExtractReporter(HostFileSystem& files, const setup::SetupState& state) : m_files(files), m_state(state) {}

  bool RetryOpenPackage(const std::u16string& path) override;
  void PackageUnreadable() override;
  void SetFileCount(uint32_t fileCount) override;
  void InstallDirFailed(const std::u16string& folder) override;
  void OutputFolder(const std::u16string&) override {}
  void InUse(const std::u16string& path) override;
  void FolderCreated(const std::u16string&) override { ++m_nFoldersCreated; }
  void FolderFailed(const std::u16string& folder) override;
  WriteChoice OpenForWriteFailed(const std::u16string& target, const std::u16string& fileName) override;
  void FileWritten(const std::u16string& target, const std::u16string& fileName) override;
  void DecodeFailed(const std::u16string& target) override;

  // The first failure, or empty.
  const std::string& Error() const { return m_error; }
  uint32_t FileCount() const { return m_nFileCount; }
  uint32_t FilesWritten() const { return m_nFilesWritten; }
  uint32_t FoldersCreated() const { return m_nFoldersCreated; }

 private:
  void Fail(const std::string& message);
  // "entry K of N \"path\"" for the entry the walk is at.
  std::string Entry(size_t number, const std::u16string& path) const;
  std::string CurrentEntry() const;
  std::u16string Relative(const std::u16string& target) const;

  HostFileSystem& m_files;
  const setup::SetupState& m_state;
  std::string m_error;
  bool m_bCounted = false;
  std::atomic<uint32_t> m_nFileCount{0}, m_nFilesWritten{0};
  uint32_t m_nFoldersCreated = 0;
};

}  // namespace mkpackage
