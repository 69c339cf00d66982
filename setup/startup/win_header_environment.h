#pragma once
// The Win32 look-ups of the header reader and the own-file reader.
#include <cstdio>
#include <string>

#include "setup/startup/header_loader.h"

namespace setup {

class WinHeaderEnvironment : public HeaderEnvironment {
 public:
  std::u16string ProgramFilesBase(bool allUsers) override;
  bool ProgramsFolder(bool allUsers, std::u16string& folder) override;
  bool SubFolders(const std::u16string& folder, std::vector<std::u16string>& names) override;
  void RegisterAddressControl() override;
};

// Sequential reads from a C file.
class CFileSource : public package::ByteSource {
 public:
  explicit CFileSource(FILE* file) : m_pFile(file) {}
  size_t Read(void* out, size_t n) override { return std::fread(out, 1, n, m_pFile); }

 private:
  FILE* m_pFile;
};

std::u16string OwnModulePath();

// Reads the program's own package header into the Setup state.
bool ReadPackageHeader();

}  // namespace setup
