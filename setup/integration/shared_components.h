#pragma once
// The usage counts of what an install shares with the other products of the
// family: the components it places in the system folder and the document
// printer (counted under its driver file), as Windows installers count them
// (HKLM\...\CurrentVersion\SharedDLLs). The product key lists what this
// product counted ("SharedFiles"), so that installing it again takes no
// second use (Win32).
#include <string>
#include <vector>

#include "setup/startup/setup_state.h"

namespace setup {

// Where the printer's use is counted: vprinter.dll in the printer-driver
// directory; empty when the spooler does not name that directory.
std::u16string PrinterCountPath();

// Takes one use of each of `paths` (full paths; the printer's count path
// stands for the printer) that the product key does not list yet, and lists
// them there.
void CountSharedComponents(const SetupState& s, const std::vector<std::u16string>& paths);

// Gives back the uses the product key lists and removes the list; returns
// the paths whose last user this install was.
std::vector<std::u16string> ReleaseSharedComponents(const SetupState& s);

}  // namespace setup
