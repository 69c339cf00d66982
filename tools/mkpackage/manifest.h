#pragma once
// The product manifest: a JSON object whose keys name the header fields
// ("ProductNameEn", "DefaultLanguage", ...), the lists ("AutostartPrograms",
// "ProgramGroup" with "Gb"/"Big5"/"En"/"Jp", "ProgramGroupShortcuts" and the
// other shortcut lists as arrays of {"CaptionGb", ..., "Target"}), and the
// payload's "PackageKind" and "ExtraFolders". TotalSize is computed.
#include <string>
#include <vector>

#include "setup/package/package_header.h"

namespace mkpackage {

struct Manifest {
  package::PackageHeader header;
  std::u16string PackageKind;
  std::vector<std::u16string> ExtraFolders;
};

// Parses and checks the manifest text. On error returns false with a message
// that names the field.
bool ParseManifest(const std::string& json, Manifest& manifest, std::string& error);

}  // namespace mkpackage
