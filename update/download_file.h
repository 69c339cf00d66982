#pragma once
// The compressed download file: what the update server publishes for every
// product file and a receive task leaves at the file's temporary path. A
// byte-stream header (MD5 digest as 32 lower-case hex digits, uncompressed
// length, compressed length) directly followed by one zlib stream.
#include <cstdint>
#include <string>
#include <vector>

namespace update {

// 32 lower-case hexadecimal digits.
std::string Md5Hex(const uint8_t* data, size_t size);

// The whole download file for `data` (zlib level 9). Files of 2 GiB or more
// cannot be described and give false.
bool EncodeDownloadFile(const std::vector<uint8_t>& data, std::vector<uint8_t>& out);

struct DownloadFileHeader {
  std::string digest;
  uint32_t uncompressedLength = 0;
  uint32_t compressedLength = 0;
  size_t headerSize = 0;  // bytes before the zlib stream
};

// Reads the header; false with `error` when it is cut short or its lengths do
// not fit the file.
bool ReadDownloadFileHeader(const uint8_t* data, size_t size, DownloadFileHeader& header, std::string& error);
// The same from the first `available` bytes of a file of `fileSize` bytes.
bool ReadDownloadFileHeader(const uint8_t* data, size_t available, uint64_t fileSize, DownloadFileHeader& header,
                            std::string& error);
// Whether the lengths are believable: zlib expands at most about 1032:1.
bool PlausibleDownloadLengths(const DownloadFileHeader& header);

// The uncompressed data. An empty file is an empty result. False with `error`
// on a bad header, a zlib error or a length that differs from the header's.
bool DecodeDownloadFile(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error);

}  // namespace update
