#pragma once
// The wizard's install run on the install thread, and the uninstaller step it
// shares with the driven run.
#include <cstdint>
#include <string>

#include "setup/install/install_file_system.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/wizard_extraction_reporter.h"

namespace setup {

enum class UninstallerOutcome { ImageUnreadable, Written, WriteFailed };

// Reads the program image (the package up to its header) from `package` at
// its current position and writes `path` from it; a failed write deletes it.
UninstallerOutcome CreateUninstaller(InstallFileSystem& fs, const SetupState& s, PackageFile& package,
                                     const std::u16string& path);

// Extraction (unless `online`), shortcuts, uninstaller, registry, components
// and configuration, reported on `surface`. False when a step stopped it.
bool RunInstallSequence(uint64_t payloadOffset, bool online, WizardSurface& surface);

}  // namespace setup
