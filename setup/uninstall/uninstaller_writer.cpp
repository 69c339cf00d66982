#include "setup/uninstall/uninstaller_writer.h"

#include "setup/uninstall/image_signature.h"
#include "setup/uninstall/uninstall_record.h"

namespace setup {

bool WriteUninstaller(InstallFileSystem& fs, const SetupState& s, const std::u16string& path,
                      std::vector<uint8_t> image, const package::MarkerPair& running) {
  MarkAsUninstaller(image, running, uint32_t(image.size()));  // not found: written unchanged
  ClearImageSignature(image);  // the package's signature does not sign this file
  // The record goes straight after the image: one buffer for both, about
  // 520 bytes per path (a product of many files has a record of megabytes).
  const size_t paths = s.InstalledFiles.size() + s.CreatedFolders.size() + s.CreatedGroupShortcuts.size() +
                       s.CreatedStartMenuShortcuts.size() + s.CreatedDesktopShortcuts.size() +
                       s.CreatedQuickLaunchShortcuts.size() + 16;
  image.reserve(image.size() + paths * 520 + 8);
  std::string error;
  if (!EncodeUninstallRecord(s, image, error)) return false;
  // The checksum covers the whole file, record included, padded with zeros
  // to 8 bytes as signed images are.
  image.resize((image.size() + 7) / 8 * 8, 0);
  UpdateImageChecksum(image);
  auto out = fs.OpenForWrite(path);
  if (!out) return false;
  const bool written = out->Write(image.data(), image.size());
  return out->Close() && written;
}

}  // namespace setup
