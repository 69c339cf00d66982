#pragma once
// The removal run of the uninstaller, on the progress page's worker thread.
#include "setup/startup/setup_state.h"
#include "setup/wizard/wizard_extraction_reporter.h"

namespace setup {

// Removes the installation of `s` (InstallDir without trailing backslash):
// everything under the folder with `complete`, else the listed files and
// uninstall.exe; then the shortcuts and, when they are this copy's, the
// registry records. Every step is a detail line; always true.
bool RunUninstall(SetupState& s, bool complete, WizardSurface& surface);

}  // namespace setup
