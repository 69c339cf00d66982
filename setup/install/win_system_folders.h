#pragma once
// The folders of this system that no install may take and no removal may
// delete whole.
#include <string>
#include <vector>

namespace setup {

// The Windows and system folders.
std::vector<std::u16string> SystemFolders();

// Those, Program Files (and its common files), the temporary folder, the
// profiles and every shell special folder that resolves here.
std::vector<std::u16string> ProtectedFolders();

}  // namespace setup
