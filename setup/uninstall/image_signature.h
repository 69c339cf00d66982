#pragma once
// A program image copied out of a signed package carries the package's
// certificate-table entry, which points past the copy's end, and a checksum of
// the signed file. The copy gets neither.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace setup {

// Clears the PE security-directory entry and the optional header's checksum
// (0: not checked; UpdateImageChecksum sets it once the file is complete).
// False, the image unchanged, when it is not a PE image whose headers lie
// inside it.
bool ClearImageSignature(std::vector<uint8_t>& image);

// The PE checksum of a file given in pieces, in order; its checksum field (at
// `field`, from ChecksumFieldOffset) counts as zero.
class PeChecksum {
 public:
  explicit PeChecksum(size_t field) : m_field(field) {}
  void Add(const uint8_t* data, size_t size);
  uint32_t Value() const;

 private:
  size_t m_field, m_position = 0;
  uint64_t m_sum = 0;
  uint32_t m_low = 0;  // the first byte of a word cut between pieces
};

// The checksum field's offset in PE image `image` (its headers), or nullopt.
std::optional<size_t> ChecksumFieldOffset(const std::vector<uint8_t>& image);

// The PE checksum of the whole `file` (its checksum field counted as zero).
// Nullopt when it is not a PE image.
std::optional<uint32_t> ImageChecksum(const std::vector<uint8_t>& file);

// Sets the checksum field to ImageChecksum; false when it is not a PE image.
bool UpdateImageChecksum(std::vector<uint8_t>& file);

}  // namespace setup
