#pragma once
// Header strings of the current language and the default destination.
#include <string>
#include <string_view>

#include "setup/startup/setup_state.h"

namespace setup {

// Replaces "(", ")", U+FF08 and U+FF09 by "_".
std::u16string ReplaceBrackets(std::u16string_view path);

// base (or "C:" when empty) + "\" + folder name, brackets replaced in the
// folder name only.
std::u16string DefaultDestination(std::u16string_view programFilesBase, std::u16string_view folderName);

// The uninstall shortcut node appended to a non-empty program-group list: the
// captions "卸载  %s", "移除  %s", "Uninstall  %s", "アンインストール %s" with the
// product name of each language; target "uninstall.exe".
package::ShortcutEntry UninstallShortcut(const package::PackageHeader& header);

// Sets ProductName, FolderName, ProgramGroup from the header by Language
// (other values change none of them), the server package's English folder
// name, and InstallDir: the earlier installation's folder when there is
// one, else the default under `programFilesBase`.
void SelectLanguageStrings(SetupState& state, std::u16string_view programFilesBase);

}  // namespace setup
