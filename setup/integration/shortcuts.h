#pragma once
// Shell links of an install (Win32).
#include <string>

#include "setup/integration/shortcut_pass.h"

namespace setup {

// A shell link to `target` with `workingDirectory` saved as `link`, then a
// change notice for its folder. False when the shell-link or persist-file
// interface is missing or the link was not saved. COM must be initialised.
bool MakeShellLink(const std::u16string& target, const std::u16string& link, const std::u16string& workingDirectory);

// The Win32 side of the shortcut steps.
class WinShortcutSystem : public ShortcutSystem {
 public:
  bool SpecialFolder(ShortcutKind kind, bool allUsers, std::u16string& folder) override;
  bool UserProgramsFolder(std::u16string& folder) override;
  int MakeFolders(const std::u16string& path, size_t start) override;
  bool MakeLink(const std::u16string& target, const std::u16string& link,
                const std::u16string& workingDirectory) override;
  bool List(const std::u16string& folder, std::vector<FolderEntry>& entries) override;
  bool FileExists(const std::u16string& path) override;
  bool RemoveFile(const std::u16string& path) override;
  bool RemoveEmptyFolder(const std::u16string& path) override;
};

}  // namespace setup
