#include "setup/integration/integration_steps.h"

namespace setup {

// Not built yet: no shortcut is created, so none is reported or recorded.
void CreateShortcutsDriven(SetupState&, StatusSink&) {}

// Not built yet: no shortcut is created, so no line is shown.
void CreateShortcuts(SetupState&, WizardSurface&) {}

// Not built yet: nothing is written, which is a failure of the group.
bool RunRegistryGroup(SetupState&, bool) { return false; }

// Not built yet: nothing is registered, which is a failure of the group.
bool RunDrivenComponentGroup(SetupState&) { return false; }

// Not built yet: nothing is registered, which is a failure of the group.
bool RunComponentGroup(SetupState&) { return false; }

// Not built yet: no configuration file is written.
void RunConfigurationStep(SetupState&) {}

// Not built yet: nothing is removed, which is a failure of the step.
bool RemoveRegistryRecords(SetupState&) { return false; }

}  // namespace setup
