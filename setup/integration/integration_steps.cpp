#include "setup/integration/integration_steps.h"

#include "setup/integration/component_group.h"

namespace setup {

// Not built yet: no shortcut is created, so none is reported or recorded.
void CreateShortcutsDriven(SetupState&, StatusSink&) {}

// Not built yet: no shortcut is created, so no line is shown.
void CreateShortcuts(SetupState&, WizardSurface&) {}

// Not built yet: nothing is written, which is a failure of the group.
bool RunRegistryGroup(SetupState&, bool) { return false; }

bool RunDrivenComponentGroup(SetupState& s) { return RegisterComponentsDriven(s); }

bool RunComponentGroup(SetupState& s) { return RegisterComponents(s); }

void RunConfigurationStep(SetupState& s) {
  HostNameAddress address;
  ConfigureInstall(s, address);
}

// Not built yet: nothing is removed, which is a failure of the step.
bool RemoveRegistryRecords(SetupState&) { return false; }

}  // namespace setup
