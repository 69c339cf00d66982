#pragma once
// What a removal run may delete, from the uninstall record alone.
#include <string>
#include <string_view>
#include <vector>

#include "setup/startup/setup_state.h"

namespace setup {

enum class RemovalKind {
  WholeFolder,     // the install made the folder: everything under it, then the folder
  ProductFolders,  // the listed files, the folders the install made with all they hold
  Partial,         // the listed files; folders the install made, when empty
};

struct RemovalPlan {
  RemovalKind kind = RemovalKind::Partial;
  // Relative folders deleted with their content (ProductFolders), outermost only.
  std::vector<std::u16string> wholeFolders;
  // Relative folders removed when empty, deepest first.
  std::vector<std::u16string> emptyFolders;
  // The install folder itself goes when empty (the install made it).
  bool removeInstallDir = false;
};

// `complete` is the user's choice; `protectedFolder` says InstallDir is a drive
// root, a system or special folder or holds one. Folders the install made are
// the record's list, or for an older record the folders of the listed files.
RemovalPlan PlanRemoval(const SetupState& s, bool complete, bool protectedFolder);

// `name` (a path relative to the install folder) is on `list`, ignoring the
// case of Latin letters.
bool ListsInstalledFile(const std::vector<std::u16string>& list, std::u16string_view name);

}  // namespace setup
