#pragma once
// The edits of the product's configuration files and the order in which a
// server package applies them. Each edit takes a folder and a file relative
// to it; false when an argument is empty, the file is missing or the edit
// could not be written (the file then stays as it was).
#include <functional>
#include <string>
#include <string_view>

#include "setup/integration/config_text.h"

namespace setup::config {

struct ConfigEnvironment {
  // Text to the ANSI code page of the 8-bit configuration files.
  std::function<std::string(std::u16string_view)> toAnsi;
  LeadBytePredicate isLeadByte;
  // Told when an existing file cannot be opened for reading by a line
  // rewrite (profile edits fail silently).
  std::function<void(std::u16string_view path)> onUnreadable;
};

// Profile edits: section, key, value. 8-bit files get the value in the ANSI
// code page, files with a UTF-16 byte-order mark in UTF-16.
struct ProfileValue {
  std::u16string section, key, value;
};
bool EditProfile(std::u16string_view path, const std::vector<ProfileValue>& values, const ConfigEnvironment& env);

bool SetPhpIni(std::u16string_view root, std::u16string_view file, const ConfigEnvironment& env);
bool ReplaceXamppRoot(std::u16string_view root, std::u16string_view file, const ConfigEnvironment& env);
bool ReplaceDownloadHost(std::u16string_view root, std::u16string_view file, std::u16string_view address,
                         const ConfigEnvironment& env);
bool SetGatewayIp(std::u16string_view folder, std::u16string_view file, std::u16string_view address,
                  const ConfigEnvironment& env);
bool SetConfServerVoip(std::u16string_view folder, std::u16string_view file, std::u16string_view address,
                       std::u16string_view recordPath, const ConfigEnvironment& env);
bool SetCenterAddress(std::u16string_view folder, std::u16string_view file, std::u16string_view address,
                      const ConfigEnvironment& env);
bool SetWebConnectParams(std::u16string_view folder, std::u16string_view file, std::u16string_view address,
                         const ConfigEnvironment& env);

// Every edit of a server package of `packageKind` ("PHP", "JSP") under the
// server root, with this machine's `address`; missing folders and files are
// skipped.
void ConfigureServerFiles(std::u16string_view root, std::u16string_view packageKind, std::u16string_view address,
                          const ConfigEnvironment& env);

// "IniFolder\tempconfig.ini" under `folder`: "Log In" "IP" = address, when
// the file exists and the address is not empty.
bool WriteClientLoginAddress(std::u16string_view folder, std::u16string_view address, const ConfigEnvironment& env);

// The server keys of the UTF-16 files "qrvcos.ini" and "sysvideo.ini" in
// `installDir`. An empty address changes nothing (false).
bool RewriteClientServerAddress(std::u16string_view installDir, std::u16string_view address);

}  // namespace setup::config
