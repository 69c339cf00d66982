#pragma once
// Entry points of the system-integration steps of an install run.
#include "setup/extraction_reporter.h"
#include "setup/setup_state.h"
#include "setup/wizard/wizard_extraction_reporter.h"

namespace setup {

// Shortcuts of a driven install: 0x50004 per shortcut created; the created
// lists in the Setup state are filled.
void CreateShortcutsDriven(SetupState& s, StatusSink& sink);

// Shortcuts of a wizard install: a detail line and 10 steps of progress per
// shortcut created; the created lists in the Setup state are filled.
void CreateShortcuts(SetupState& s, WizardSurface& surface);

// Spooler clean-up, product key and uninstall entry (and, when asked, the Run
// entries). True when every counted step succeeded.
bool RunRegistryGroup(SetupState& s, bool withRunEntries);

// Component registration, associations, printer and configuration of a
// driven install. True when every counted step succeeded.
bool RunDrivenComponentGroup(SetupState& s);

// Component registration, associations and printer of a wizard install.
bool RunComponentGroup(SetupState& s);

// Server or client configuration files, print spool folder and virtual
// printer of a wizard install; results are not reported.
void RunConfigurationStep(SetupState& s);

// The product key, uninstall entry and Run entries of this product (a Run
// value only while it still holds this install's path), and the
// associations of ComponentKind. True when they are gone.
bool RemoveRegistryRecords(SetupState& s);

// The document associations of component kind 3 or 4. True when they are gone.
bool RemoveComponentAssociations(int componentKind);

}  // namespace setup
