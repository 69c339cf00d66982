#pragma once
// The wizard install's reactions to extraction events: prompts owned by the
// frame, detail lines on the progress page and the progress bar.
#include <cstdint>
#include <string_view>

#include "setup/install/extraction_reporter.h"

namespace setup {

// What the progress page offers the install thread.
class WizardSurface {
 public:
  virtual ~WizardSurface() = default;
  // The text `key` of the current language formatted with `argument`.
  virtual void DetailLine(uint16_t key, std::u16string_view argument) = 0;
  virtual void SetProgressRange(uint16_t upper) = 0;
  virtual void SetProgressPosition(uint32_t position) = 0;
  virtual void AdvanceProgress(uint32_t step) = 0;
  // The button pressed on the prompt for `code` with `argument`.
  virtual int Prompt(uint32_t code, std::u16string_view argument) = 0;
  // The user cancelled the run: it stops at its next safe point.
  virtual bool StopRequested() { return false; }
};

// Button identifiers, with their Win32 values.
namespace button {
inline constexpr int kAbort = 3, kRetry = 4, kIgnore = 5;
}

class WizardExtractionReporter : public ExtractionReporter {
 public:
  explicit WizardExtractionReporter(WizardSurface& surface) : m_surface(surface) {}
  bool RetryOpenPackage(const std::u16string& path) override;
  void PackageUnreadable() override {}
  void SetFileCount(uint32_t fileCount) override;
  void InstallDirFailed(const std::u16string& folder) override;
  void OutputFolder(const std::u16string& folder) override;
  void InUse(const std::u16string& path) override;
  void FolderCreated(const std::u16string& folder) override;
  void FolderFailed(const std::u16string& folder) override;
  WriteChoice OpenForWriteFailed(const std::u16string& target, const std::u16string& fileName) override;
  void FileWritten(const std::u16string& target, const std::u16string& fileName) override;
  void DecodeFailed(const std::u16string& target) override;
  bool StopRequested() override { return m_surface.StopRequested(); }

 private:
  WizardSurface& m_surface;
};

}  // namespace setup
