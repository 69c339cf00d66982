#include "setup/integration/integration_steps.h"

#include "base/utf16.h"
#include "setup/integration/associations.h"
#include "setup/integration/component_group.h"

namespace setup {

bool RunDrivenComponentGroup(SetupState& s) { return RegisterComponentsDriven(s); }

bool RunComponentGroup(SetupState& s) { return RegisterComponents(s); }

void RunConfigurationStep(SetupState& s) {
  HostNameAddress address;
  ConfigureInstall(s, address);
}

bool RemoveComponentAssociations(const SetupState& s) {
  return RemoveAssociations(vx::ToWide(s.InstallDir));
}

}  // namespace setup
