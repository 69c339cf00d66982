#pragma once
// Uninstall records and uninstaller images as bytes, for the record tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/le_int.h"
#include "setup/uninstall/uninstall_record.h"

namespace testing_support {

inline std::vector<uint8_t> EncodeRecord(const setup::SetupState& s) {
  std::vector<uint8_t> record;
  std::string error;
  EXPECT_TRUE(setup::EncodeUninstallRecord(s, record, error)) << error;
  return record;
}

// Where the trailer begins; the record up to there is what an older setup
// wrote. The record's size when it has none.
inline size_t TrailerAt(const std::vector<uint8_t>& record) {
  for (size_t at = setup::kUninstallRecordFixedSize; at + 4 <= record.size(); ++at)
    if (vx::ReadLE32(&record[at]) == setup::kRecordTrailerMagic) return at;
  return record.size();
}

// A minimal PE32 image with a certificate entry and a checksum.
inline std::vector<uint8_t> SignedLookingImage(uint16_t magic = 0x10B) {
  std::vector<uint8_t> image(1024, 0);
  image[0] = 'M', image[1] = 'Z';
  vx::WriteLE32(&image[0x3C], 0x80);
  vx::WriteLE32(&image[0x80], 0x00004550);
  const size_t optional = 0x80 + 24;
  const size_t countField = magic == 0x10B ? 92 : 108;
  vx::WriteLE16(&image[0x80 + 4 + 16], uint16_t(countField + 4 + 16 * 8));
  vx::WriteLE16(&image[optional], magic);
  vx::WriteLE32(&image[optional + 64], 0xC0FFEE);
  vx::WriteLE32(&image[optional + countField], 16);
  vx::WriteLE32(&image[optional + countField + 4 + 4 * 8], 0x5000);
  vx::WriteLE32(&image[optional + countField + 4 + 4 * 8 + 4], 0x1234);
  return image;
}

}  // namespace testing_support
