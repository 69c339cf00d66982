#pragma once
// The component group and configuration step of an install run.
#include "setup/integration/local_address.h"
#include "setup/startup/setup_state.h"

namespace setup {

// Component registration, associations and printer of a wizard install;
// sets ComponentKind. True when every counted step succeeded.
bool RegisterComponents(SetupState& s);

// The same for a driven install, with its own order, the print spool folder,
// the client configuration files, the printer installer and the encoder.
bool RegisterComponentsDriven(SetupState& s);

// Server or client configuration of a wizard install; results not reported.
void ConfigureInstall(SetupState& s, LocalAddressSource& address);

// How long the encoder installer may run.
constexpr unsigned kEncoderLimitMs = 15000;

}  // namespace setup
