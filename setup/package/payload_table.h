#pragma once
// The payload that follows the header: FileCount, PackageKind (200 bytes),
// FileEntry records (520-byte relative path, 32-bit stream length L, L bytes
// of stream), the ExtraFolders count and its 520-byte paths.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "setup/package/package_header.h"

namespace package {

constexpr size_t kPathFieldSize = 520;
constexpr size_t kPackageKindSize = 200;

struct PayloadEntry {
  std::u16string path;   // relative, backslashes
  uint64_t streamOffset;  // offset of the stream from the payload start
  uint32_t streamSize;    // L
  uint8_t streamHead[13] = {};  // the stream's first bytes (as many as L holds)
};

struct PayloadTable {
  std::u16string PackageKind;
  std::vector<PayloadEntry> entries;
  std::vector<std::u16string> ExtraFolders;
  uint64_t size = 0;  // bytes of the whole payload
};

// Writes the payload piece by piece, so streams need not be held together.
class PayloadWriter {
 public:
  // Returns false with `error` when a field does not fit.
  bool Begin(uint32_t fileCount, const std::u16string& kind, std::string& error);
  bool AddEntry(const std::u16string& path, const std::vector<uint8_t>& stream, std::string& error);
  // Path and length only; the caller writes the `length` stream bytes next.
  bool AddEntryHead(const std::u16string& path, uint32_t length, std::string& error);
  bool End(const std::vector<std::u16string>& extraFolders, std::string& error);
  // Bytes produced since the last Take().
  std::vector<uint8_t> Take() { return std::move(m_out); }

 private:
  std::vector<uint8_t> m_out;
};

enum class PayloadError { None, ShortRead, BadCount, BadPath };
const char* PayloadErrorText(PayloadError e);

// Reads the table, skipping over streams; a stream that runs past the end is
// a short read. A seekable source is not required: streams are read and
// dropped unless `streams` is given, which then receives each one.
PayloadError ReadPayloadTable(ByteSource& source, PayloadTable& table,
                              std::vector<std::vector<uint8_t>>* streams = nullptr);

}  // namespace package
