#pragma once
// The product's registry records under HKEY_LOCAL_MACHINE (Win32).
#include "setup/integration/registry_values.h"

namespace setup {

// Each writer stops at its first failed call; true when every value was
// written. An unusable product name (empty, or with a backslash) writes
// nothing and fails.
bool WriteProductKey(const SetupState& s);
bool WriteUninstallEntry(const SetupState& s);

// Opens the Run key (never creates it) and writes the values of `form`:
// false when the key does not open or any write failed (every write is
// still attempted).
bool WriteRunEntries(const SetupState& s, RunForm form);

}  // namespace setup
