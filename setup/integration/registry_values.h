#pragma once
// What the product's registry records hold: key paths under
// HKEY_LOCAL_MACHINE, the values of the product key, the uninstall entry and
// the Run key, in the order they are written, and the Run values an
// uninstall may delete.
#include <string>
#include <string_view>
#include <vector>

#include "setup/startup/setup_state.h"

namespace setup {

struct RegistryValue {
  std::u16string name, data;
  bool operator==(const RegistryValue&) const = default;
};

inline constexpr std::u16string_view kRunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// "Software\<name>" and "Software\...\Uninstall\<name>"; empty when `name`
// is empty or holds a backslash (it would name the parent key itself or
// another program's key).
std::u16string ProductKeyPath(std::u16string_view productNameEn);
std::u16string UninstallKeyPath(std::u16string_view productName);

// The Run value name of a program path: the part after the last backslash
// up to its first dot, at most 254 characters.
std::u16string RunValueName(std::u16string_view program);

// InstallPath, Exe, Version, GUID. s.InstallDir ends with a backslash.
std::vector<RegistryValue> ProductKeyValues(const SetupState& s);

// DisplayName, UninstallString, DisplayIcon, Publisher, URLInfoAbout,
// DisplayVersion, Contact, HelpLink, HelpTelephone, Readme, URLUpdateInfo,
// ProductID, Comments (`welcome` followed by ProductName, at most 799
// characters). Empty header fields give empty values.
std::vector<RegistryValue> UninstallEntryValues(const SetupState& s, std::u16string_view welcome);

enum class RunForm { None, MainExe, List };

// None when NoAutostart is set in a client package; MainExe for a server
// package or an empty AutostartPrograms list; List otherwise.
RunForm ChooseRunForm(const package::PackageHeader& h);

// The Run values of `form`, with InstallDir (trailing backslash) + program
// as data. A program whose value name would be empty (it would be the key's
// default value) gets an empty name: the writer refuses it.
std::vector<RegistryValue> RunValues(const SetupState& s, RunForm form);

// The Run values an uninstall may delete: the MainExe value, then one per
// AutostartPrograms entry, each with the data this install wrote
// (s.InstallDir without trailing backslash, a backslash, the program).
std::vector<RegistryValue> RunValuesToRemove(const SetupState& s);

// Run data written by this install: equal, letters A-Z compared without case.
bool IsOwnRunData(std::u16string_view stored, std::u16string_view written);

}  // namespace setup
