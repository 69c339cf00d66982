#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/vx_byte_stream.h"
#include "update/download_file.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(DownloadFile, RoundTripsWithDigestAndLengths) {
  EXPECT_EQ(update::Md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
  const Bytes abc = Text("abc");
  EXPECT_EQ(update::Md5Hex(abc.data(), abc.size()), "900150983cd24fb0d6963f7d28e17f72");

  std::mt19937 random(7);
  for (size_t size : {size_t(0), size_t(1), size_t(100), size_t(1) << 20}) {
    Bytes data(size);
    for (auto& b : data) b = uint8_t(random() % 7);  // compressible
    Bytes file;
    ASSERT_TRUE(update::EncodeDownloadFile(data, file));
    update::DownloadFileHeader header;
    std::string error;
    ASSERT_TRUE(update::ReadDownloadFileHeader(file.data(), file.size(), header, error)) << error;
    EXPECT_EQ(header.digest, update::Md5Hex(data.data(), data.size()));
    EXPECT_EQ(header.uncompressedLength, size);
    EXPECT_EQ(header.headerSize + header.compressedLength, file.size());
    EXPECT_EQ(header.headerSize, 1u + 32 + 4 + 4);  // compact prefix, digest, two lengths
    Bytes back;
    ASSERT_TRUE(update::DecodeDownloadFile(file.data(), file.size(), back, error)) << error;
    EXPECT_EQ(back, data);
  }
  // An empty download file stands for an empty product file.
  Bytes back = {1};
  std::string error;
  EXPECT_TRUE(update::DecodeDownloadFile(nullptr, 0, back, error));
  EXPECT_TRUE(back.empty());
}

TEST(DownloadFile, BadFilesAreRefusedWithAReason) {
  Bytes file;
  ASSERT_TRUE(update::EncodeDownloadFile(Text("hello hello hello hello"), file));
  Bytes out;
  std::string error;
  // Cut anywhere: refused.
  for (size_t n = 1; n < file.size(); ++n) {
    EXPECT_FALSE(update::DecodeDownloadFile(file.data(), n, out, error)) << n;
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(out.empty());
  }
  // Trailing bytes: the stated compressed length no longer fits.
  Bytes longer = file;
  longer.push_back(0);
  EXPECT_FALSE(update::DecodeDownloadFile(longer.data(), longer.size(), out, error));
  // A wrong uncompressed length, either way.
  for (uint32_t claimed : {22u, 24u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    Bytes wrong = file;
    wrong[33] = uint8_t(claimed), wrong[34] = uint8_t(claimed >> 8), wrong[35] = uint8_t(claimed >> 16),
    wrong[36] = uint8_t(claimed >> 24);
    EXPECT_FALSE(update::DecodeDownloadFile(wrong.data(), wrong.size(), out, error)) << claimed;
  }
  // Damaged zlib data.
  Bytes damaged = file;
  damaged[45] ^= 0xFF;
  damaged.back() ^= 0xFF;
  EXPECT_FALSE(update::DecodeDownloadFile(damaged.data(), damaged.size(), out, error));

  // Random mutations never crash, and never decode to other data unnoticed
  // by the length check.
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    Bytes m = file;
    const int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits; ++e) m[random() % m.size()] = uint8_t(random());
    if (random() % 4 == 0) m.resize(random() % (m.size() + 1));
    if (update::DecodeDownloadFile(m.data(), m.size(), out, error)) {
      update::DownloadFileHeader header;
      if (!m.empty()) {
        ASSERT_TRUE(update::ReadDownloadFileHeader(m.data(), m.size(), header, error));
        EXPECT_EQ(out.size(), header.uncompressedLength);
      }
    }
  }
}
