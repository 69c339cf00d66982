#pragma once
// What the component group of an install will do, decided before it runs (the
// uninstall record is written first), and how its uninstaller undoes the
// spool folder setting.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

// 3 for a "V3.0" client package, 4 for "V4.0", else (and for every server
// package) 0.
int ComponentKindFor(int serverPackage, std::u16string_view packageKind);

// The components the component group of a wizard (or `driven`) install of
// `componentKind` moves or copies into the system folder, in install order
// ("qedit.dll" with the Sample Grabber keys).
std::vector<std::u16string> SystemComponentsFor(bool driven, int serverPackage, int componentKind);

// A placed-component path of a record that the uninstaller may unregister
// and delete: one of the component names directly in one of
// `systemFolders` (the record is only a file in the product folder).
bool IsPlacedComponentPath(std::u16string_view path, const std::vector<std::u16string>& systemFolders);

// Usage counts of shared files (the SharedDLLs values, one per full path).
// An install takes one use of every file it places or finds in place; a file
// found in place without a count has a user that did not count, so its count
// starts from one (and never reaches zero through this family's uninstalls).
uint32_t SharedCountAfterInstall(std::optional<uint32_t> current, bool inPlace);

// An uninstall gives its use back: the new count, or none when the value
// goes because this was the last user (then the file and its registration
// go too). A count that is missing is left alone and is not the last user.
struct SharedRelease {
  bool lastUser = false;
  std::optional<uint32_t> count;  // to write; none: delete the value (last user) or leave it
};
SharedRelease SharedCountAfterUninstall(std::optional<uint32_t> current);

// `list` with `path` appended unless it holds it already (compared as
// Windows compares paths).
void AddPathOnce(std::vector<std::u16string>& list, std::u16string_view path);

// InstallDir (with or without trailing backslash) followed by "\PrintSpool".
std::u16string PrivateSpoolFolder(std::u16string_view installDir);

struct SpoolRestore {
  enum Action { Leave, Set, Delete } action = Leave;
  std::u16string value;  // for Set
};

// The uninstaller's change to the machine's spool folder setting: only while
// it still names this install's private folder (another program's setting
// stays). Back to the recorded setting, or deleted when there was none; when
// the recorded one is not known or lies inside the install folder (an earlier
// install of this folder set it), the system's own folder `systemDefault`.
SpoolRestore PlanSpoolRestore(std::u16string_view installDir, bool currentPresent, std::u16string_view current,
                              bool previousKnown, std::u16string_view previous, std::u16string_view systemDefault);

}  // namespace setup
