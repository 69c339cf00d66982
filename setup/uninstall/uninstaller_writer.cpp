#include "setup/uninstall/uninstaller_writer.h"

#include "base/le_int.h"
#include "setup/uninstall/image_signature.h"
#include "setup/uninstall/uninstall_record.h"

namespace setup {

bool WriteUninstaller(InstallFileSystem& fs, const SetupState& s, const std::u16string& path,
                      std::vector<uint8_t> image, const package::MarkerPair& running) {
  MarkAsUninstaller(image, running, uint32_t(image.size()));  // not found: written unchanged
  ClearImageSignature(image);  // the package's signature does not sign this file
  // The record follows the image. It is made twice, in pieces, rather than
  // held: once for the checksum, which covers the whole file padded with
  // zeros to 8 bytes as signed images are, then for the file. About 520 bytes
  // per path make megabytes for a product of many files.
  static constexpr uint8_t kZeros[8] = {};
  std::string error;
  uint64_t size = image.size();
  if (const auto field = ChecksumFieldOffset(image)) {
    PeChecksum checksum(*field);
    checksum.Add(image.data(), image.size());
    const bool encoded = EncodeUninstallRecord(
        s,
        [&](const uint8_t* data, size_t n) {
          checksum.Add(data, n);
          size += n;
        },
        error);
    if (!encoded) return false;
    checksum.Add(kZeros, size_t((8 - size % 8) % 8));
    vx::WriteLE32(image.data() + *field, checksum.Value());
  }
  auto out = fs.OpenForWrite(path);
  if (!out) return false;
  bool written = out->Write(image.data(), image.size());
  size = image.size();
  const bool encoded = EncodeUninstallRecord(
      s,
      [&](const uint8_t* data, size_t n) {
        written = written && out->Write(data, n);
        size += n;
      },
      error);
  written = encoded && written && out->Write(kZeros, size_t((8 - size % 8) % 8));
  return out->Close() && written;
}

}  // namespace setup
