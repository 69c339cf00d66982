#pragma once
// Uninstall records as bytes, for the record tests.
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

}  // namespace testing_support
