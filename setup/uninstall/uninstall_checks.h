#pragma once
// What the uninstaller checks before its wizard opens.
#include <string>
#include <vector>

namespace setup {

// Reads the uninstall record of InstallDir\uninstall.exe (at the header
// offset) into the Setup state. False when the file cannot be read or the
// record is damaged or belongs to another folder (short names and case of
// InstallDir do not count; InstallDir becomes the record's spelling).
bool ReadUninstallRecord();

// Files under `folder` (recursively), or -1 as soon as one with an extension
// (other than ProductName + VersionLabel + ".exe") cannot be opened
// exclusively. Changes nothing; folder links count as one entry and are not
// followed.
int CheckFilesInUse(const std::u16string& folder);

// How many of `list` (relative to `folder`) exist.
int CountListedFiles(const std::u16string& folder, const std::vector<std::u16string>& list);

}  // namespace setup
