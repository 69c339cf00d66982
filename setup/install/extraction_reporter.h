#pragma once
// What the extraction walk tells its caller. The wizard install shows prompts,
// detail lines and progress; the driven install sends status codes.
#include <cstdint>
#include <string>

namespace setup {

class ExtractionReporter {
 public:
  enum class WriteChoice { Abort, Retry, Ignore };

  virtual ~ExtractionReporter() = default;
  // The own file cannot be opened: true to try again.
  virtual bool RetryOpenPackage(const std::u16string& path) = 0;
  // Seek to the payload failed, or the package ended early.
  virtual void PackageUnreadable() = 0;
  virtual void SetFileCount(uint32_t fileCount) = 0;
  virtual void InstallDirFailed(const std::u16string& folder) = 0;
  virtual void OutputFolder(const std::u16string& folder) = 0;
  virtual void InUse(const std::u16string& path) = 0;
  virtual void FolderCreated(const std::u16string& folder) = 0;
  virtual void FolderFailed(const std::u16string& folder) = 0;
  // The target cannot be opened for writing. Abort and Ignore report their
  // own line; Ignore moves on to the next file.
  virtual WriteChoice OpenForWriteFailed(const std::u16string& target, const std::u16string& fileName) = 0;
  virtual void FileWritten(const std::u16string& target, const std::u16string& fileName) = 0;
  // The stream cannot be decoded or written; the target is already deleted.
  virtual void DecodeFailed(const std::u16string& target) = 0;
  // Asked between files: the user cancelled, the walk takes back what it
  // wrote and stops.
  virtual bool StopRequested() { return false; }
};

// Status codes of a driven install, sent to the controlling window.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void Report(uint32_t code) = 0;
  virtual void Report(uint32_t code, const std::u16string& argument) = 0;
};

// The driven install's reactions: a status code per event, never a question.
class DrivenExtractionReporter : public ExtractionReporter {
 public:
  explicit DrivenExtractionReporter(StatusSink& sink) : m_sink(sink) {}
  bool RetryOpenPackage(const std::u16string&) override;
  void PackageUnreadable() override;
  void SetFileCount(uint32_t) override {}
  void InstallDirFailed(const std::u16string& folder) override;
  void OutputFolder(const std::u16string& folder) override;
  void InUse(const std::u16string& path) override;
  void FolderCreated(const std::u16string& folder) override;
  void FolderFailed(const std::u16string& folder) override;
  WriteChoice OpenForWriteFailed(const std::u16string& target, const std::u16string&) override;
  void FileWritten(const std::u16string& target, const std::u16string&) override;
  void DecodeFailed(const std::u16string& target) override;

 private:
  StatusSink& m_sink;
};

// Status codes.
namespace status {
inline constexpr uint32_t kCompleted = 0x00000, kCheckingOs = 0x10000, kUnsupportedOs = 0x10101,
                          kCheckingBrowser = 0x20000, kCheckingConfiguration = 0x30000,
                          kInitFailed = 0x40102;
inline constexpr uint32_t kOutputFolder = 0x50001, kCreateFolder = 0x50002, kCopyFile = 0x50003,
                          kCreateShortcut = 0x50004, kCreateUninstaller = 0x50005,
                          kAddRegistry = 0x50006, kRegisterComponents = 0x50009;
inline constexpr uint32_t kInstallError = 0x50101, kCannotCreate = 0x50102, kCannotWrite = 0x50103,
                          kUninstallerFailed = 0x50104, kRegistryFailed = 0x50105,
                          kComponentsFailed = 0x5010A;
// A failure code: the low half is 0x01nn.
constexpr bool IsFailure(uint32_t code) { return (code & 0xFF00) == 0x0100; }
}  // namespace status

}  // namespace setup
