#include "setup/wizard/wizard_extraction_reporter.h"

namespace setup {
namespace {

// Text keys of the detail lines.
constexpr uint16_t kCannotCreate = 367, kOutputFolder = 369, kCannotWrite = 371, kCreateFolderFailed = 373,
                   kCreateFolder = 375, kCopyFile = 377, kSkipped = 379;

}  // namespace

bool WizardExtractionReporter::RetryOpenPackage(const std::u16string& path) {
  return m_surface.Prompt(0x40101, path) == button::kRetry;
}

void WizardExtractionReporter::SetFileCount(uint32_t fileCount) {
  m_surface.SetProgressRange(uint16_t(fileCount + 100));  // the bar keeps 16 bits
}

void WizardExtractionReporter::InstallDirFailed(const std::u16string& folder) {
  m_surface.Prompt(0x50106, folder);
  m_surface.DetailLine(kCannotCreate, folder);
}

void WizardExtractionReporter::OutputFolder(const std::u16string& folder) {
  m_surface.DetailLine(kOutputFolder, folder);
  m_surface.SetProgressPosition(10);
}

void WizardExtractionReporter::InUse(const std::u16string& path) {
  m_surface.Prompt(0x50107, path);
  m_surface.DetailLine(kCannotWrite, path);
}

void WizardExtractionReporter::FolderCreated(const std::u16string& folder) {
  m_surface.DetailLine(kCreateFolder, folder);
}

void WizardExtractionReporter::FolderFailed(const std::u16string& folder) {
  m_surface.Prompt(0x50106, folder);
  m_surface.DetailLine(kCreateFolderFailed, folder);
}

ExtractionReporter::WriteChoice WizardExtractionReporter::OpenForWriteFailed(const std::u16string& target,
                                                                             const std::u16string& fileName) {
  switch (m_surface.Prompt(0x50108, target)) {
    case button::kAbort:
      m_surface.DetailLine(kCannotWrite, target);
      return WriteChoice::Abort;
    case button::kIgnore:
      m_surface.DetailLine(kSkipped, fileName);
      m_surface.AdvanceProgress(1);
      return WriteChoice::Ignore;
    default:
      return WriteChoice::Retry;
  }
}

void WizardExtractionReporter::FileWritten(const std::u16string&, const std::u16string& fileName) {
  m_surface.DetailLine(kCopyFile, fileName);
  m_surface.AdvanceProgress(1);
}

void WizardExtractionReporter::DecodeFailed(const std::u16string& target) {
  m_surface.Prompt(0x50109, target);
  m_surface.DetailLine(kCannotCreate, target);
}

}  // namespace setup
