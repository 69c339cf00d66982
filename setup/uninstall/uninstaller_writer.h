#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "setup/install/install_file_system.h"
#include "setup/package/instance_marker.h"
#include "setup/startup/setup_state.h"

namespace setup {

// Writes `path`: `image` (the program without its package, whose marker pair
// is `running`) marked as the uninstaller, without the package's certificate
// entry and checksum, then the uninstall record. False on a failed open, a
// short write or a record that cannot be encoded; the caller deletes the file.
bool WriteUninstaller(InstallFileSystem& fs, const SetupState& s, const std::u16string& path,
                      std::vector<uint8_t> image, const package::MarkerPair& running);

}  // namespace setup
