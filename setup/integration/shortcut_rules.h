#pragma once
// Names and paths of the product's shortcuts: the caption of an entry in a
// language, the link path of a kind, which group names and link names are
// safe, and which files of a folder are this package's own links.
#include <string>
#include <string_view>
#include <vector>

#include "setup/package/package_header.h"

namespace setup {

enum class ShortcutKind { ProgramGroup, StartMenu, Desktop, QuickLaunch };
inline constexpr ShortcutKind kShortcutKinds[] = {ShortcutKind::ProgramGroup, ShortcutKind::StartMenu,
                                                  ShortcutKind::Desktop, ShortcutKind::QuickLaunch};

// CaptionGb (2), CaptionBig5 (3), CaptionJp (4), CaptionEn for any other value.
const std::u16string& CaptionIn(const package::ShortcutEntry& entry, int language);

// A program-group name that stays below the Programs folder: not empty, no
// drive, no leading separator, no "." or ".." or empty component, no
// wildcard or control character. Backslashes make nested folders.
bool IsSafeProgramGroup(std::u16string_view group);

// A caption usable as a link file name: not empty, no separator, drive
// colon, wildcard or control character.
bool IsSafeLinkName(std::u16string_view caption);

// The folder that holds the links of `kind`: the group folder for the
// program group (`base` is ProgramsBase, `group` ProgramGroup), the Quick
// Launch folder under the application-data folder `base`, else `base`.
std::u16string ShortcutFolder(ShortcutKind kind, std::u16string_view base, std::u16string_view group);

// `folder`\`caption`.lnk
std::u16string LinkPath(std::u16string_view folder, std::u16string_view caption);

// True when `fileName` is `caption`.lnk for a caption of `entries` in any of
// the four languages (letters A-Z compared without case, as file names are).
bool IsOwnLinkName(std::u16string_view fileName, const std::vector<package::ShortcutEntry>& entries);

// Equal as Windows file names compare ASCII letters (other characters exactly).
bool SameFileName(std::u16string_view a, std::u16string_view b);

// `path` without its last component (and the backslash before it); empty
// when it has no backslash.
std::u16string ParentFolder(std::u16string_view path);

}  // namespace setup
