#include "setup/package/payload_table.h"

#include <algorithm>

#include "base/fixed_field.h"
#include "base/le_int.h"

namespace package {
namespace {

void PutCount(std::vector<uint8_t>& out, uint32_t n) {
  uint8_t b[4];
  vx::WriteLE32(b, n);
  out.insert(out.end(), b, b + 4);
}

bool PutText(std::vector<uint8_t>& out, const std::u16string& s, size_t width,
             const std::string& name, std::string& error) {
  const size_t at = out.size();
  out.resize(at + width);
  if (vx::EncodeFixedField(s, width, &out[at])) return true;
  out.resize(at);
  error = vx::FieldTooLongError(name, s.size(), width);
  return false;
}

}  // namespace

bool PayloadWriter::Begin(uint32_t fileCount, const std::u16string& kind, std::string& error) {
  PutCount(m_out, fileCount);
  return PutText(m_out, kind, kPackageKindSize, "PackageKind", error);
}

bool PayloadWriter::AddEntry(const std::u16string& path, const std::vector<uint8_t>& stream,
                             std::string& error) {
  if (!PutText(m_out, path, kPathFieldSize, "payload path", error)) return false;
  if (stream.size() > 0x7FFFFFFF) {
    error = "payload stream larger than 2 GiB";
    return false;
  }
  PutCount(m_out, static_cast<uint32_t>(stream.size()));
  m_out.insert(m_out.end(), stream.begin(), stream.end());
  return true;
}

bool PayloadWriter::AddEntryHead(const std::u16string& path, uint32_t length, std::string& error) {
  if (length > 0x7FFFFFFF) {
    error = "payload stream larger than 2 GiB";
    return false;
  }
  if (!PutText(m_out, path, kPathFieldSize, "payload path", error)) return false;
  PutCount(m_out, length);
  return true;
}

bool PayloadWriter::End(const std::vector<std::u16string>& extraFolders, std::string& error) {
  PutCount(m_out, static_cast<uint32_t>(extraFolders.size()));
  for (size_t i = 0; i < extraFolders.size(); ++i)
    if (!PutText(m_out, extraFolders[i], kPathFieldSize,
                 "ExtraFolders[" + std::to_string(i) + "]", error))
      return false;
  return true;
}

const char* PayloadErrorText(PayloadError e) {
  switch (e) {
    case PayloadError::None: return "no error";
    case PayloadError::ShortRead: return "the payload ends early";
    case PayloadError::BadCount: return "a payload count or stream length is negative";
    case PayloadError::BadPath: return "a payload path is empty";
  }
  return "unknown error";
}

PayloadError ReadPayloadTable(ByteSource& source, PayloadTable& table,
                              std::vector<std::vector<uint8_t>>* streams) {
  table = {};
  uint64_t at = 0;
  uint32_t count = 0;
  if (!ReadLe32(source, count)) return PayloadError::ShortRead;
  if (count > 0x7FFFFFFF) return PayloadError::BadCount;
  uint8_t field[kPathFieldSize];
  if (!ReadExact(source, field, kPackageKindSize)) return PayloadError::ShortRead;
  table.PackageKind = vx::DecodeFixedField(field, kPackageKindSize);
  at += 4 + kPackageKindSize;
  std::vector<uint8_t> buffer;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadExact(source, field, kPathFieldSize)) return PayloadError::ShortRead;
    PayloadEntry e;
    e.path = vx::DecodeFixedField(field, kPathFieldSize);
    uint32_t length = 0;
    if (!ReadLe32(source, length)) return PayloadError::ShortRead;
    if (length > 0x7FFFFFFF) return PayloadError::BadCount;
    at += kPathFieldSize + 4;
    e.streamOffset = at;
    e.streamSize = length;
    // Read the stream in pieces: a hostile length costs only what the file holds.
    std::vector<uint8_t>* keep = nullptr;
    if (streams) keep = &streams->emplace_back();
    size_t left = length;
    while (left > 0) {
      const size_t piece = left < (1u << 20) ? left : (1u << 20);
      buffer.resize(piece);
      if (!ReadExact(source, buffer.data(), piece)) return PayloadError::ShortRead;
      if (keep) keep->insert(keep->end(), buffer.begin(), buffer.end());
      if (left == length)
        std::copy_n(buffer.begin(), std::min<size_t>(piece, sizeof e.streamHead), e.streamHead);
      left -= piece;
    }
    at += length;
    table.entries.push_back(std::move(e));
  }
  uint32_t folders = 0;
  if (!ReadLe32(source, folders)) return PayloadError::ShortRead;
  if (folders > 0x7FFFFFFF) return PayloadError::BadCount;
  at += 4;
  for (uint32_t i = 0; i < folders; ++i) {
    if (!ReadExact(source, field, kPathFieldSize)) return PayloadError::ShortRead;
    table.ExtraFolders.push_back(vx::DecodeFixedField(field, kPathFieldSize));
    at += kPathFieldSize;
  }
  table.size = at;
  return PayloadError::None;
}

}  // namespace package
