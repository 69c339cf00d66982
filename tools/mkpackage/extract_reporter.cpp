#include "tools/mkpackage/extract_reporter.h"

#include "base/path_join.h"
#include "base/utf16.h"
#include "tools/mkpackage/package_inspector.h"

namespace mkpackage {

const char kPathLeavesFolder[] =
    "refused, the path leaves the folder (a drive, an absolute path, \"..\" or an empty name)";

void ExtractReporter::Fail(const std::string& message) {
  if (m_error.empty()) m_error = message;
}

std::string ExtractReporter::Entry(size_t number, const std::u16string& path) const {
  return "entry " + std::to_string(number) + " of " + std::to_string(m_nFileCount) + " \"" + PrintableText(path) +
         "\"";
}

std::string ExtractReporter::CurrentEntry() const {
  const auto& paths = m_state.InstalledFiles;
  return paths.empty() ? "the payload" : Entry(paths.size(), paths.back());
}

std::u16string ExtractReporter::Relative(const std::u16string& target) const {
  const std::u16string& prefix = m_state.InstallDir;
  return target.compare(0, prefix.size(), prefix) == 0 ? target.substr(prefix.size()) : target;
}

bool ExtractReporter::RetryOpenPackage(const std::u16string& path) {
  Fail("cannot open \"" + PrintableText(path) + "\"");
  return false;
}

void ExtractReporter::PackageUnreadable() {
  const auto& paths = m_state.InstalledFiles;
  if (!m_bCounted)
    Fail("the package ends before its payload");
  else if (paths.empty())
    Fail("the package ends before its first entry");
  else if (m_nFilesWritten == paths.size())
    Fail("the package ends after " + CurrentEntry());
  else
    Fail("the package ends inside " + CurrentEntry());
}

void ExtractReporter::SetFileCount(uint32_t fileCount) {
  m_nFileCount = fileCount;
  m_bCounted = true;
}

void ExtractReporter::InstallDirFailed(const std::u16string& folder) {
  Fail("cannot create \"" + PrintableText(folder) + "\": " + m_files.LastError());
}

void ExtractReporter::InUse(const std::u16string& path) { Fail("\"" + PrintableText(path) + "\" is in use"); }

void ExtractReporter::FolderFailed(const std::u16string&) { Fail(CurrentEntry() + ": " + m_files.LastError()); }

ExtractReporter::WriteChoice ExtractReporter::OpenForWriteFailed(const std::u16string&, const std::u16string&) {
  Fail(CurrentEntry() + ": " + m_files.LastError());
  return WriteChoice::Abort;
}

void ExtractReporter::FileWritten(const std::u16string& target, const std::u16string&) {
  if (m_files.CommitFile(target))
    ++m_nFilesWritten;
  else
    Fail(CurrentEntry() + ": " + m_files.LastError());
}

void ExtractReporter::DecodeFailed(const std::u16string& target) {
  const std::u16string path = Relative(target);
  // The walk refuses such a path before it takes it as an entry.
  if (!vx::IsSafeRelativePath(path))
    Fail(Entry(m_state.InstalledFiles.size() + 1, path) + ": " + kPathLeavesFolder);
  else if (m_files.WriteFailed())
    Fail(CurrentEntry() + ": " + m_files.LastError());
  else
    Fail(CurrentEntry() + ": the stream cannot be decoded (the package is corrupt or truncated)");
}

}  // namespace mkpackage
