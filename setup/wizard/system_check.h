#pragma once
#include "setup/setup_state.h"

namespace setup {

// Classifies the running system and sets AllUsers; false ends setup.
bool CheckOperatingSystem(SetupState& state);

}  // namespace setup
