#pragma once
// Win32 file operations of the install run.
#include "setup/install/install_file_system.h"

namespace setup {

class WinInstallFileSystem : public InstallFileSystem {
 public:
  std::unique_ptr<PackageFile> OpenPackage() override;
  std::u16string PackagePath() override;
  bool Exists(const std::u16string& path) override;
  DirectoryResult MakeDirectory(const std::u16string& path) override;
  void ClearAttributes(const std::u16string& path) override;
  bool InUse(const std::u16string& path) override;
  std::unique_ptr<TargetFile> OpenForWrite(const std::u16string& path) override;
  void Delete(const std::u16string& path) override;
  bool RemoveEmptyFolder(const std::u16string& path) override;
};

}  // namespace setup
