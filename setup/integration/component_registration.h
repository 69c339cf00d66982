#pragma once
// Self-registering components placed in the system folder, and the
// DirectShow Sample Grabber registered by hand.
#include <cstdint>
#include <string>
#include <vector>

#include "setup/setup_state.h"

namespace setup {

// Loads `path` and calls its DllRegisterServer; false when it does not load,
// lacks the export or reports failure.
bool SelfRegister(const std::wstring& path);

// Copies InstallDir\name into the system folder (overwriting) and registers
// the system copy.
bool CopyAndRegister(const SetupState& s, const std::wstring& name);

// Moves InstallDir\name into the system folder and registers the system copy;
// a copy already there is registered instead (the carried file stays).
// Inside CoInitialize / CoUninitialize.
bool MoveAndRegister(const SetupState& s, const std::wstring& name);

// The filter-registration block of the Sample Grabber (112 bytes).
std::vector<uint8_t> SampleGrabberFilterData();

// Puts "qedit.dll" in the system folder unless one is there (the carried
// copy is then deleted) and writes the Sample Grabber's class and filter keys.
bool RegisterSampleGrabber(const SetupState& s);

// Writes the current language's code into InstallDir\language.ini when it
// differs; true when the file exists.
bool SetLanguageIni(const SetupState& s);

}  // namespace setup
