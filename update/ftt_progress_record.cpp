#include "update/ftt_progress_record.h"

#include <algorithm>
#include <cstring>

#include "base/vx_byte_stream.h"
#include "update/ftt_types.h"

namespace ftt {

void ReceivedRanges::Add(int64_t start, int64_t end) {
  if (start >= end) return;
  std::vector<ByteRange> merged;
  merged.reserve(m_ranges.size() + 1);
  ByteRange incoming{start, end};
  bool placed = false;
  for (const ByteRange& r : m_ranges) {
    if (r.end < incoming.start) {
      merged.push_back(r);
    } else if (incoming.end < r.start) {
      if (!placed) merged.push_back(incoming), placed = true;
      merged.push_back(r);
    } else {  // touching or overlapping
      incoming.start = std::min(incoming.start, r.start);
      incoming.end = std::max(incoming.end, r.end);
    }
  }
  if (!placed) merged.push_back(incoming);
  m_ranges = std::move(merged);
}

int64_t ReceivedRanges::Bytes() const {
  int64_t total = 0;
  for (const ByteRange& r : m_ranges) total += r.end - r.start;
  return total;
}

bool ReceivedRanges::Complete(int64_t fileLength) const {
  return fileLength == 0 || (m_ranges.size() == 1 && m_ranges[0].start == 0 && m_ranges[0].end >= fileLength);
}

bool ReceivedRanges::Covers(const ByteRange& range) const {
  if (range.start >= range.end) return true;
  for (const ByteRange& r : m_ranges)
    if (r.start <= range.start && r.end >= range.end) return true;
  return false;
}

ByteRange ReceivedRanges::NextMissing(int64_t fileLength, int64_t from, int64_t limit) const {
  for (int pass = 0; pass < 2; ++pass, from = 0) {
    int64_t at = std::clamp<int64_t>(from, 0, fileLength);
    for (const ByteRange& r : m_ranges) {
      if (r.end <= at) continue;
      if (r.start > at) return {at, std::min(r.start, at + limit)};
      at = r.end;
    }
    if (at < fileLength) return {at, std::min(fileLength, at + limit)};
  }
  return {};
}

std::vector<uint8_t> EncodeProgressRecord(const ProgressRecord& record) {
  vx::VX_ByteStream rest;
  rest.WriteString(record.identity);
  rest.WriteInt64(record.fileLength);
  rest.WriteInt32(record.date);
  rest.WriteInt32(record.time);
  rest.WriteInt32(int32_t(record.received.ranges().size()));
  for (const ByteRange& r : record.received.ranges()) {
    rest.WriteInt64(r.start);
    rest.WriteInt64(r.end);
  }
  rest.WriteUInt32(kProgressEndMarker);
  rest.WriteInt64(record.position);
  std::vector<uint8_t> out(kProgressTagSize, 0);
  std::memcpy(out.data(), kProgressTag, sizeof kProgressTag);
  vx::VX_ByteStream length;
  length.WriteInt32(int32_t(rest.Size()));
  const std::vector<uint8_t> a = length.TakeBytes(), b = rest.TakeBytes();
  out.insert(out.end(), a.begin(), a.end());
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

bool DecodeProgressRecord(const uint8_t* data, size_t size, ProgressRecord& record, std::string& error) {
  static_assert(sizeof kProgressTag <= kProgressTagSize);
  if (size < kProgressTagSize + 4 || std::memcmp(data, kProgressTag, sizeof kProgressTag) != 0 ||
      std::any_of(data + sizeof kProgressTag, data + kProgressTagSize, [](uint8_t b) { return b != 0; })) {
    error = "no progress record tag";
    return false;
  }
  ProgressRecord decoded;
  try {
    vx::VX_ByteStream s(vx::VX_ByteStream::LoadFrom, data + kProgressTagSize, size - kProgressTagSize);
    const int32_t restLength = s.ReadInt32();
    if (restLength < 0 || size_t(restLength) != s.Remaining()) {
      error = "progress record length does not match";
      return false;
    }
    decoded.identity = s.ReadString();
    decoded.fileLength = s.ReadInt64();
    decoded.date = s.ReadInt32();
    decoded.time = s.ReadInt32();
    const int32_t count = s.ReadInt32();
    if (decoded.fileLength < 0 || count < 0 || size_t(count) > s.Remaining() / 16) {
      error = "progress record has a bad length or range count";
      return false;
    }
    int64_t previousEnd = -1;
    for (int32_t i = 0; i < count; ++i) {
      const int64_t start = s.ReadInt64(), end = s.ReadInt64();
      if (start <= previousEnd || start < 0 || end <= start || end > decoded.fileLength) {
        error = "progress record ranges are out of order or outside the file";
        return false;
      }
      decoded.received.Add(start, end);
      previousEnd = end;
    }
    if (s.ReadUInt32() != kProgressEndMarker) {
      error = "progress record end marker missing";
      return false;
    }
    decoded.position = s.ReadInt64();
    if (decoded.position < 0 || decoded.position > decoded.fileLength || s.Remaining() != 0) {
      error = "progress record position is outside the file";
      return false;
    }
  } catch (const vx::VX_StreamError&) {
    error = "progress record is cut short";
    return false;
  }
  record = std::move(decoded);
  return true;
}

int ProgressTenths(int64_t received, int64_t fileLength) {
  if (fileLength <= 0) return NEDDISK_RATE;
  return int(std::clamp<int64_t>(received, 0, fileLength) * NEDDISK_RATE / fileLength);
}

}  // namespace ftt
