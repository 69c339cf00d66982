#include "update/download_file.h"

#include <zlib.h>

#include <limits>

#include "base/vx_byte_stream.h"
#include "net/md5_digest.h"

namespace update {
namespace {

constexpr uint32_t kMaxLength = 0x7FFFFFFF;  // int32 fields

}  // namespace

std::string Md5Hex(const uint8_t* data, size_t size) { return net::Md5Digest::HexOf(data, size); }

bool EncodeDownloadFile(const std::vector<uint8_t>& data, std::vector<uint8_t>& out) {
  if (data.size() > kMaxLength) return false;
  uLongf packedSize = compressBound(uLong(data.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, data.data(), uLong(data.size()), 9) != Z_OK ||
      packedSize > kMaxLength)
    return false;
  vx::VX_ByteStream stream(4096, std::numeric_limits<size_t>::max() / 2);
  stream.WriteStringUtf8(Md5Hex(data.data(), data.size()));
  stream.WriteInt32(int32_t(data.size()));
  stream.WriteInt32(int32_t(packedSize));
  out = stream.TakeBytes();
  out.insert(out.end(), packed.begin(), packed.begin() + std::ptrdiff_t(packedSize));
  return true;
}

bool ReadDownloadFileHeader(const uint8_t* data, size_t size, DownloadFileHeader& header, std::string& error) {
  return ReadDownloadFileHeader(data, size, size, header, error);
}

bool PlausibleDownloadLengths(const DownloadFileHeader& header) {
  return uint64_t(header.uncompressedLength) <= uint64_t(header.compressedLength) * 1100 + 64;
}

bool ReadDownloadFileHeader(const uint8_t* data, size_t available, uint64_t size, DownloadFileHeader& header,
                            std::string& error) {
  try {
    vx::VX_ByteStream stream(vx::VX_ByteStream::LoadFrom, data, available);
    header.digest = stream.ReadStringUtf8();
    header.uncompressedLength = stream.ReadUInt32();
    header.compressedLength = stream.ReadUInt32();
    header.headerSize = stream.Position();
  } catch (const vx::VX_StreamError&) {
    error = "download file header is cut short";
    return false;
  }
  if (header.uncompressedLength > kMaxLength || header.compressedLength > kMaxLength) {
    error = "download file header has a negative length";
    return false;
  }
  if (header.compressedLength != size - header.headerSize) {
    error = "download file holds " + std::to_string(size - header.headerSize) + " bytes of data, its header says " +
            std::to_string(header.compressedLength);
    return false;
  }
  return true;
}

bool DecodeDownloadFile(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  if (size == 0) return true;
  DownloadFileHeader header;
  if (!ReadDownloadFileHeader(data, size, header, error)) return false;
  // zlib expands at most about 1032:1; a header claiming more is not
  // believed, so a hostile file cannot make us allocate gigabytes.
  if (!PlausibleDownloadLengths(header)) {
    error = "download file header claims an impossible uncompressed length";
    return false;
  }
  // The output is bounded by the header's length: a stream that would give
  // more is an error.
  out.resize(header.uncompressedLength);
  uLongf produced = uLongf(out.size());
  const int r = uncompress(out.data(), &produced, data + header.headerSize, uLong(header.compressedLength));
  if (r != Z_OK || produced != header.uncompressedLength) {
    error = r == Z_OK ? "download file decompresses to " + std::to_string(produced) + " bytes, its header says " +
                            std::to_string(header.uncompressedLength)
                      : "download file data is not a sound zlib stream";
    out.clear();
    return false;
  }
  return true;
}

}  // namespace update
