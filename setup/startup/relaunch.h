#pragma once
// Uninstallers and update packages never run from where they were started:
// they copy themselves to the temporary folder and start the copy.
#include <string>

#include "setup/startup/relaunch_rules.h"

namespace setup {

// A temporary copy asks for its own deletion at the next restart (it cannot
// delete itself while it runs). Anything else is left alone.
void ScheduleOwnDeletion();

// Copies the program to a new "zz~" temporary file and starts it with the own
// folder as argument (after `delayMs`). False when it cannot copy or start.
bool RelaunchFromTemporaryCopy(unsigned delayMs);

// Update run: copies `previousDir`\uninstall.exe to a temporary file, runs it
// with `previousDir` as argument and waits for its main thread. Silent.
void RunPreviousUninstaller(const std::u16string& previousDir);

}  // namespace setup
