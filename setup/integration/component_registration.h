#pragma once
// Self-registering components placed in the system folder, and the
// DirectShow Sample Grabber registered by hand.
#include <cstdint>
#include <string>
#include <vector>

#include "setup/startup/setup_state.h"

namespace setup {

// The published Sample Grabber class and the DirectShow filters category.
inline constexpr wchar_t kSampleGrabberClsid[] = L"{C1F400A0-3F08-11D3-9F0B-006008039E37}";
inline constexpr wchar_t kDirectShowFilterCategory[] = L"{083863F1-70DE-11d0-BD40-00A0C911CE86}";

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
