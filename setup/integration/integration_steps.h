#pragma once
// Entry points of the system-integration steps of an install run.
#include "setup/install/extraction_reporter.h"
#include "setup/startup/setup_state.h"
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

// Before the uninstaller is written (the component group runs later): the
// ComponentKind the group will set, the components it will place in the
// system folder (none there yet), for kind 3 the spool folder setting it will
// replace and the spool folder it will make; and this product's use of the
// system-folder components and of the printer is counted. `driven`: the
// driven group's steps.
void PrepareComponentRecord(SetupState& s, bool driven);

// Uninstall, for a record that carries the component kind: this product's
// uses are given back; a component no product uses any more is unregistered
// and deleted (the Sample Grabber keys while they still name that file), and
// the document printer with its driver and processor is removed when no
// product uses it; a kind 3 install's spool folder setting goes back to what
// it replaced while it still names this install's folder.
void RemoveComponentsAndPrinter(SetupState& s);

// The product key, uninstall entry and Run entries of this product (a Run
// value only while it still holds this install's path), and the
// associations of ComponentKind. True when they are gone.
bool RemoveRegistryRecords(SetupState& s);

// The document associations that still point into InstallDir, of any
// component kind. True when none of this install's is left.
bool RemoveComponentAssociations(const SetupState& s);

}  // namespace setup
