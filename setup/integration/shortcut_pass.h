#pragma once
// The shortcut steps of an install over the system calls they need, so the
// rules run anywhere: the four kinds in order with their created lists, and
// the wizard's clean-up of an earlier install's links.
#include <string>
#include <vector>

#include "setup/integration/shortcut_rules.h"
#include "setup/startup/setup_state.h"

namespace setup {

struct FolderEntry {
  std::u16string name;
  bool folder = false;
};

class ShortcutSystem {
 public:
  virtual ~ShortcutSystem() = default;
  // The Start-menu or desktop folder, or the application-data folder for
  // Quick Launch, without trailing backslash; false when it cannot be
  // resolved.
  virtual bool SpecialFolder(ShortcutKind kind, bool allUsers, std::u16string& folder) = 0;
  // The current user's Programs folder, without trailing backslash.
  virtual bool UserProgramsFolder(std::u16string& folder) = 0;
  // Every folder named by a prefix of `path` ending at a backslash at or
  // after `start`: 1 created, 2 already there, 0 failed.
  virtual int MakeFolders(const std::u16string& path, size_t start) = 0;
  // A shell link to `target` saved as `link`; false when it was not saved.
  virtual bool MakeLink(const std::u16string& target, const std::u16string& link,
                        const std::u16string& workingDirectory) = 0;
  // The entries of `folder` ("." and ".." left out); false when it cannot be
  // listed (it does not exist).
  virtual bool List(const std::u16string& folder, std::vector<FolderEntry>& entries) = 0;
  virtual bool FileExists(const std::u16string& path) = 0;
  virtual bool RemoveFile(const std::u16string& path) = 0;
  virtual bool RemoveEmptyFolder(const std::u16string& path) = 0;
};

class ShortcutReporter {
 public:
  virtual ~ShortcutReporter() = default;
  virtual void Created(const std::u16string& link) = 0;
  virtual void Failed(const std::u16string& link) = 0;
  // The clean-up of an earlier install (wizard only).
  virtual void Deleted(const std::u16string&) {}
  virtual void NotDeleted(const std::u16string&) {}
  virtual void FolderRemoved(const std::u16string&) {}
};

// Whether `kind` is made: its list is present (for the last three the tasks
// page may clear that) and, in a driven install, its header switch is on.
bool ShortcutKindChosen(const SetupState& s, ShortcutKind kind, bool driven);

// The four kinds in order: one link per entry of a chosen kind whose folder
// resolves, captions in s.Language, targets and working directory in
// s.InstallDir (with its trailing backslash). Created links are appended to
// the kind's list; failed ones are reported and not recorded. A program
// group whose name is unsafe gets no link. s.ProgramGroupFolder names the
// group folder when the group kind ran and the folder was empty, missing or
// held only this package's links before; it is empty otherwise, so the
// uninstaller never sweeps another program's folder.
void MakeShortcuts(SetupState& s, ShortcutSystem& system, ShortcutReporter& reporter, bool driven);

// Before a wizard install: this package's own links (program-group captions
// in any language, the uninstall link included) are deleted from the group
// folder under the user's Programs folder and under ProgramsBase, and the
// folder is removed when that leaves it empty; then ProductName.lnk in the
// user's Start-menu folder and in its parent's "桌面" folder. Other files
// stay. An unsafe group name is not touched.
void RemoveOldShortcutLinks(const SetupState& s, ShortcutSystem& system, ShortcutReporter& reporter);

}  // namespace setup
