#include "setup/uninstall/image_signature.h"

#include <cstddef>

#include "base/le_int.h"

namespace setup {
namespace {

constexpr size_t kPeOffsetField = 0x3C, kFileHeaderSize = 20;
constexpr size_t kChecksumField = 64;
constexpr uint16_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr uint32_t kSecurityEntry = 4;

// The checksum field's offset in a PE image, or 0.
size_t ChecksumField(const std::vector<uint8_t>& image) {
  const size_t size = image.size();
  if (size < kPeOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return 0;
  const size_t pe = vx::ReadLE32(image.data() + kPeOffsetField);
  if (pe > size || size - pe < 4 + kFileHeaderSize + 2) return 0;
  if (vx::ReadLE32(image.data() + pe) != 0x00004550u) return 0;
  const size_t optional = pe + 4 + kFileHeaderSize;
  const uint16_t magic = vx::ReadLE16(image.data() + optional);
  if ((magic != kPe32 && magic != kPe32Plus) || size - optional < kChecksumField + 4) return 0;
  return optional + kChecksumField;
}

}  // namespace

void PeChecksum::Add(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i, ++m_position) {
    const bool inField = m_position >= m_field && m_position < m_field + 4;
    const uint32_t byte = inField ? 0 : data[i];
    if (m_position % 2 == 0) {
      m_low = byte;
      continue;
    }
    m_sum += m_low | byte << 8;
    m_sum = (m_sum & 0xFFFF) + (m_sum >> 16);
  }
}

uint32_t PeChecksum::Value() const {
  uint64_t sum = m_sum;
  if (m_position % 2) sum += m_low;  // an odd length: the last byte alone
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + m_position);
}

std::optional<size_t> ChecksumFieldOffset(const std::vector<uint8_t>& image) {
  const size_t field = ChecksumField(image);
  if (!field) return std::nullopt;
  return field;
}

std::optional<uint32_t> ImageChecksum(const std::vector<uint8_t>& file) {
  const auto field = ChecksumFieldOffset(file);
  if (!field) return std::nullopt;
  PeChecksum checksum(*field);
  checksum.Add(file.data(), file.size());
  return checksum.Value();
}

bool UpdateImageChecksum(std::vector<uint8_t>& file) {
  const auto checksum = ImageChecksum(file);
  if (!checksum) return false;
  vx::WriteLE32(file.data() + ChecksumField(file), *checksum);
  return true;
}

bool ClearImageSignature(std::vector<uint8_t>& image) {
  const size_t size = image.size();
  if (size < kPeOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return false;
  const size_t pe = vx::ReadLE32(image.data() + kPeOffsetField);
  if (pe > size || size - pe < 4 + kFileHeaderSize + 2) return false;
  if (vx::ReadLE32(image.data() + pe) != 0x00004550u) return false;
  const size_t optional = pe + 4 + kFileHeaderSize;
  const size_t optionalSize = vx::ReadLE16(image.data() + pe + 4 + 16);
  const uint16_t magic = vx::ReadLE16(image.data() + optional);
  const size_t countField = magic == kPe32 ? 92 : magic == kPe32Plus ? 108 : 0;
  if (!countField || optionalSize < countField + 4 || size - optional < optionalSize) return false;
  const uint32_t entries = vx::ReadLE32(image.data() + optional + countField);
  const size_t entry = optional + countField + 4 + kSecurityEntry * 8;
  vx::WriteLE32(image.data() + optional + kChecksumField, 0);
  if (entries > kSecurityEntry && entry + 8 <= optional + optionalSize) {
    vx::WriteLE32(image.data() + entry, 0);
    vx::WriteLE32(image.data() + entry + 4, 0);
  }
  return true;
}

}  // namespace setup
