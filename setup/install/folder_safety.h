#pragma once
// Rules that keep installs and removals out of folders that are not the
// product's: drive roots, the Windows and system folders, Program Files, user
// profiles and the shell's special folders.
#include <string>
#include <string_view>
#include <vector>

#include "setup/wizard/page_rules.h"

namespace setup {

// Upper-cased (Latin letters), slashes as backslashes, no trailing backslash.
std::u16string ComparableFolder(std::u16string_view path);

// "C:", "C:\", "\\server\share" and "\\server\share\".
bool IsDriveRoot(std::u16string_view path);

// `inner` is `outer` or lies below it (compared as ComparableFolder).
bool IsSameOrInside(std::u16string_view inner, std::u16string_view outer);

// A drive root, one of `protectedFolders`, or a folder holding one of them
// (removing it whole would remove theirs).
bool IsProtectedFolder(std::u16string_view path, const std::vector<std::u16string>& protectedFolders);

// "X:\..." or "\\server\share\...".
bool IsAbsolutePath(std::u16string_view path);

// A "." or ".." component.
bool HasDotComponent(std::u16string_view path);

// The destination of a driven install: the wizard's folder rules, absolute,
// no "." or ".." component, not inside `systemFolders` (the Windows and
// system folders) and not a protected folder.
bool DrivenDestinationAllowed(const std::u16string& path, DriveQuery& drives,
                              const std::vector<std::u16string>& systemFolders,
                              const std::vector<std::u16string>& protectedFolders);

}  // namespace setup
