#pragma once
// Document types of the client packages: extension key, ProgID, icon and
// open command under HKEY_CLASSES_ROOT.
#include <string>
#include <vector>

namespace setup {

struct Association {
  const wchar_t* extension;  // ".smvx"
  const wchar_t* progId;     // "Quorin_smvx"
  const wchar_t* program;    // file in the install folder
};

// The association of `extension` (".smvx", ".smv", ".kwb", ".swb", ".vot").
const Association* FindAssociation(const std::wstring& extension);

// The open command for a program in `installDir` (trailing backslash):
// "<installDir><program>" "%1".
std::wstring AssociationCommand(const std::wstring& installDir, const Association& a);

// Writes the extension key, the ProgID's DefaultIcon and its
// Shell\Open\Command; stops at the first failure.
bool RegisterAssociation(const std::wstring& extension, const std::wstring& installDir);

// The associations a component kind writes and removes (".vot" is shared and
// stays).
std::vector<std::wstring> RemovableAssociations(int componentKind);

// Removes the associations of `componentKind` whose open command still starts
// with the quoted `installDir` (with or without trailing backslash); one that
// another program re-pointed is left alone. True when nothing of this install
// is left (also for kind 0, which has none).
bool RemoveAssociation(int componentKind, const std::wstring& installDir);

// Deletes `path` under `root` with every subkey; stops at the first subkey
// that cannot be deleted.
bool DeleteKeyTree(void* root, const std::wstring& path);

}  // namespace setup
