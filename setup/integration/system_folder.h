#pragma once
// The Windows system folder that shared components are placed in.
#include <string>

#include "setup/startup/setup_state.h"

namespace setup {

// CSIDL_SYSTEM for an all-users install, else "SystemRoot" of the current
// version key followed by "\system". Empty when it cannot be determined.
std::wstring SystemFolder(const SetupState& s);

}  // namespace setup
