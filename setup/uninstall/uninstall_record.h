#pragma once
// The uninstaller file: the program image without its package, the instance
// marker switched to the uninstaller pair, followed by the uninstall record of
// what the install created.
//
// Record layout: the fixed part (1812 bytes), the autostart list, the
// installed-file list and the four shortcut sections, then a trailer that
// older records lack (read as "nothing known"):
//   u32 magic 0x31545856 ("VXT1"), u32 entry count, then per entry
//   u32 tag, u32 byte length, that many bytes.
// Readers skip tags they do not know and ignore what follows the entries
// (the uninstaller file ends with zero padding to 8 bytes). Tags:
//   1  the install created the install folder: u32, 0 or 1
//   2  component kind, u32: 0 none, 3 or 4 (absent: 0, not recorded)
//   3  the spool folder setting a kind 3 install replaces, 520-byte UTF-16
//      field, empty when there was none (absent: not known; a setting too
//      long for the field is left out)
//   4  folders the install created below the install folder: 520-byte
//      UTF-16 fields of relative paths, as many as the length holds
//   5  components the install placed in the system folder: 520-byte UTF-16
//      fields of full paths, as many as the length holds
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "setup/package/instance_marker.h"
#include "setup/startup/setup_state.h"

namespace setup {

constexpr size_t kUninstallRecordFixedSize = 1812;
constexpr uint32_t kRecordTrailerMagic = 0x31545856u;  // "VXT1"
enum RecordTag : uint32_t { kTagInstallDirCreated = 1, kTagComponentKind = 2, kTagSpoolFolder = 3,
                            kTagCreatedFolders = 4, kTagPlacedComponents = 5 };

// The record in file order, handed to `sink` in pieces. False with `error`
// when a text does not fit its field or the installed-file list does not
// match FileCount (what was handed over is then a cut record).
using RecordSink = std::function<void(const uint8_t* data, size_t size)>;
bool EncodeUninstallRecord(const SetupState& s, const RecordSink& sink, std::string& error);
// The same, appended to `out`.
bool EncodeUninstallRecord(const SetupState& s, std::vector<uint8_t>& out, std::string& error);

// Restores the record at the start of `data` into `s`: ProductName,
// ProductNameEn, VersionLabel, MainExe, ProductID, Language, BannerVariant,
// AutostartPrograms, InstalledFiles and FileCount, the created shortcuts and,
// from the trailer, InstallDirCreated, CreatedFolders, ComponentKind,
// PreviousSpoolFolder and PlacedComponents (without a trailer, or with a
// damaged one: false, 0, not known, none).
// InstallDir becomes the record's folder, the spelling the install used.
// False with `error` when it is cut short, its counts are negative or too
// large for the bytes, or its folder is not `installDir` (compared without
// trailing backslash and, as Windows compares names, without regard to case;
// the caller resolves short names); `s` is then unchanged.
bool DecodeUninstallRecord(const uint8_t* data, size_t size, const std::u16string& installDir, SetupState& s,
                           std::string& error);

// Switches the first 8-aligned occurrence of `running` (scanning while the
// position is below size - 8) whose whole 12-byte group fits the image to the
// uninstaller pair, keeping the header offset. Returns false when there is
// none; the image is unchanged.
bool MarkAsUninstaller(std::vector<uint8_t>& image, const package::MarkerPair& running, uint32_t headerOffset);

}  // namespace setup
