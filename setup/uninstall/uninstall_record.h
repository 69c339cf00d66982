#pragma once
// The uninstaller file: the program image without its package, the instance
// marker switched to the uninstaller pair, followed by the uninstall record of
// what the install created.
#include <cstdint>
#include <string>
#include <vector>

#include "setup/package/instance_marker.h"
#include "setup/setup_state.h"

namespace setup {

constexpr size_t kUninstallRecordFixedSize = 1812;

// The record in file order. False with `error` when a text does not fit its
// field or the installed-file list does not match FileCount.
bool EncodeUninstallRecord(const SetupState& s, std::vector<uint8_t>& out, std::string& error);

// Restores the record at the start of `data` into `s`: ProductName,
// ProductNameEn, VersionLabel, MainExe, ProductID, Language, BannerVariant,
// AutostartPrograms, InstalledFiles and FileCount, the created shortcuts.
// False with `error` when it is cut short, its counts are negative or too
// large for the bytes, or its folder is not `installDir` (compared exactly,
// without trailing backslash); `s` is then unchanged.
bool DecodeUninstallRecord(const uint8_t* data, size_t size, const std::u16string& installDir, SetupState& s,
                           std::string& error);

// Switches the first 8-aligned occurrence of `running` (scanning while the
// position is below size - 8) to the uninstaller pair, keeping the header
// offset. Returns false when the pair is not found; the image is unchanged.
bool MarkAsUninstaller(std::vector<uint8_t>& image, const package::MarkerPair& running, uint32_t headerOffset);

}  // namespace setup
