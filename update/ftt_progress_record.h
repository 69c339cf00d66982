#pragma once
// The progress record of a receive task's temporary file ("<local>.sd!"): the
// file holds the data at its offsets, followed by this record, so that an
// interrupted transfer resumes with the ranges it already has.
#include <cstdint>
#include <string>
#include <vector>

namespace ftt {

// [start, end) of the file.
struct ByteRange {
  int64_t start = 0, end = 0;
  bool operator==(const ByteRange&) const = default;
};

// Received ranges, kept ascending, merged and non-overlapping.
class ReceivedRanges {
 public:
  void Add(int64_t start, int64_t end);
  int64_t Bytes() const;
  bool Complete(int64_t fileLength) const;
  // Whether all of `range` has been received.
  bool Covers(const ByteRange& range) const;
  // The first gap at or after `from` (wrapping to 0), at most `limit` bytes;
  // empty (start == end) when nothing is missing.
  ByteRange NextMissing(int64_t fileLength, int64_t from, int64_t limit) const;
  const std::vector<ByteRange>& ranges() const { return m_ranges; }

 private:
  std::vector<ByteRange> m_ranges;
};

inline constexpr char kProgressTag[] = "<<-- quorin vxdisk download temporary file tag version1.00 -->>";
inline constexpr size_t kProgressTagSize = 64;  // the tag and its NUL byte
inline constexpr uint32_t kProgressEndMarker = 0xFFFFCCCC;

struct ProgressRecord {
  std::u16string identity;
  int64_t fileLength = 0;
  int32_t date = 0, time = 0;
  ReceivedRanges received;
  int64_t position = 0;
};

std::vector<uint8_t> EncodeProgressRecord(const ProgressRecord& record);

// False with `error` when the bytes are not exactly one consistent record
// (tag, stated length, ranges inside the file in order, end marker).
bool DecodeProgressRecord(const uint8_t* data, size_t size, ProgressRecord& record, std::string& error);

// Progress in tenths of a percent of `received` out of `fileLength`.
int ProgressTenths(int64_t received, int64_t fileLength);

}  // namespace ftt
