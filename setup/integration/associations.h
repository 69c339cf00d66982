#pragma once
// Document types of the client packages: extension key, ProgID, icon and
// open command under HKEY_CLASSES_ROOT.
#include <string>

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

// Removes every document type of the table whose open command still starts
// with the quoted `installDir` (with or without trailing backslash), whichever
// component kind wrote it: the shared ".vot" and the types of an earlier
// kind installed into the same folder too. One that another program
// re-pointed is left alone, and so is an extension key that names another
// ProgID. True when nothing of this install is left.
bool RemoveAssociations(const std::wstring& installDir);

// Deletes `path` under `root` with every subkey; stops at the first subkey
// that cannot be deleted.
bool DeleteKeyTree(void* root, const std::wstring& path);

}  // namespace setup
