#pragma once
#include "setup/startup/setup_state.h"

namespace setup {

// Classifies the running system and sets AllUsers; false ends setup.
bool CheckOperatingSystem(SetupState& state);

}  // namespace setup
