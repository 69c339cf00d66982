#pragma once
// The removal run of the uninstaller, on the progress page's worker thread.
#include "setup/setup_state.h"
#include "setup/wizard/wizard_extraction_reporter.h"

namespace setup {

bool RunUninstall(SetupState& s, WizardSurface& surface);

}  // namespace setup
