#include "setup/uninstall/uninstall_run.h"

namespace setup {

// Not built yet: nothing is removed, so the run is reported as aborted.
bool RunUninstall(SetupState&, WizardSurface&) { return false; }

}  // namespace setup
