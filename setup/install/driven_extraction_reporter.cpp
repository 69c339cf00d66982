#include "setup/install/extraction_reporter.h"

namespace setup {

bool DrivenExtractionReporter::RetryOpenPackage(const std::u16string&) {
  m_sink.Report(status::kInstallError);
  return false;
}
void DrivenExtractionReporter::PackageUnreadable() { m_sink.Report(status::kInstallError); }
void DrivenExtractionReporter::InstallDirFailed(const std::u16string& folder) {
  m_sink.Report(status::kCannotCreate, folder);
}
void DrivenExtractionReporter::OutputFolder(const std::u16string& folder) {
  m_sink.Report(status::kOutputFolder, folder);
}
void DrivenExtractionReporter::InUse(const std::u16string& path) { m_sink.Report(status::kCannotWrite, path); }
void DrivenExtractionReporter::FolderCreated(const std::u16string& folder) {
  m_sink.Report(status::kCreateFolder, folder);
}
void DrivenExtractionReporter::FolderFailed(const std::u16string& folder) {
  m_sink.Report(status::kCannotCreate, folder);
}
ExtractionReporter::WriteChoice DrivenExtractionReporter::OpenForWriteFailed(const std::u16string& target,
                                                                             const std::u16string&) {
  m_sink.Report(status::kCannotCreate, target);
  return WriteChoice::Abort;
}
void DrivenExtractionReporter::FileWritten(const std::u16string& target, const std::u16string&) {
  m_sink.Report(status::kCopyFile, target);
}
void DrivenExtractionReporter::DecodeFailed(const std::u16string& target) {
  m_sink.Report(status::kCannotCreate, target);
}

}  // namespace setup
