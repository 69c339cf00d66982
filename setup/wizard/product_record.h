#pragma once
// The product's registry record left by an earlier installation:
// HKEY_LOCAL_MACHINE\Software\<ProductNameEn> with InstallPath, Version, GUID.
#include <string>

namespace setup {

struct ProductRecord {
  std::u16string installPath;  // at most 260 characters
  std::u16string version;      // at most 40
  std::u16string guid;         // at most 40
};

// True only when the key opens and all three values are read within their
// limits; `record` is left untouched otherwise.
bool ReadProductRecord(const std::u16string& productNameEn, ProductRecord& record);

}  // namespace setup
