// AES-256-ECB and MD5 against published vectors: the host and the Windows
// build use different libraries and must agree with both peers byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/aes256_ecb.h"
#include "net/md5_digest.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) { return net::HexDigits(bytes.data(), bytes.size()); }

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

TEST(Aes256Ecb, PublishedVectorsBothWays) {
  // The single block of the AES standard's example and four blocks of the
  // ECB-AES256 example, in one call.
  const struct {
    std::string key, plain, cipher;
  } cases[] = {
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
       "8ea2b7ca516745bfeafc49904b496089"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
       "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
       "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
       "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
       "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
  };
  for (const auto& c : cases) {
    net::Aes256Ecb aes;
    ASSERT_TRUE(aes.SetKey(FromHex(c.key).data()));
    std::vector<uint8_t> data = FromHex(c.plain);
    ASSERT_TRUE(aes.Encrypt(data.data(), data.size()));
    EXPECT_EQ(Hex(data), c.cipher);
    // ECB keeps no state between calls: block by block gives the same.
    std::vector<uint8_t> again = FromHex(c.plain);
    for (size_t i = 0; i < again.size(); i += 16) ASSERT_TRUE(aes.Encrypt(again.data() + i, 16));
    EXPECT_EQ(Hex(again), c.cipher);
    ASSERT_TRUE(aes.Decrypt(data.data(), data.size()));
    EXPECT_EQ(Hex(data), c.plain);
  }
}

TEST(Aes256Ecb, RefusesWithoutKeyOrWholeBlocksAndLeavesTheData) {
  net::Aes256Ecb none;
  uint8_t block[32] = {1, 2, 3};
  EXPECT_FALSE(none.ok());
  EXPECT_FALSE(none.Encrypt(block, 16));
  EXPECT_FALSE(none.Decrypt(block, 16));
  EXPECT_EQ(block[0], 1);

  net::Aes256Ecb aes;
  const std::vector<uint8_t> key(32, 0x5A);
  ASSERT_TRUE(aes.SetKey(key.data()));
  EXPECT_TRUE(aes.ok());
  EXPECT_FALSE(aes.Encrypt(block, 15));
  EXPECT_FALSE(aes.Decrypt(block, 17));
  EXPECT_EQ(block[0], 1);
  EXPECT_EQ(block[2], 3);
  EXPECT_TRUE(aes.Encrypt(block, 0));

  // A new key replaces the old one.
  uint8_t a[16] = {}, b[16] = {};
  ASSERT_TRUE(aes.Encrypt(a, 16));
  const std::vector<uint8_t> other(32, 0xA5);
  ASSERT_TRUE(aes.SetKey(other.data()));
  ASSERT_TRUE(aes.Encrypt(b, 16));
  EXPECT_NE(Hex({a, a + 16}), Hex({b, b + 16}));
  ASSERT_TRUE(aes.Decrypt(b, 16));
  EXPECT_EQ(Hex({b, b + 16}), std::string(32, '0'));
}

TEST(Md5Digest, PublishedVectorsInAnyPieces) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& [text, digest] : cases) {
    EXPECT_EQ(net::Md5Digest::HexOf(Bytes(text), text.size()), digest);
    net::Md5Digest pieces;
    size_t at = 0;
    for (size_t n = 1; at < text.size(); n = n * 3 + 1) {
      const size_t take = std::min(n, text.size() - at);
      pieces.Add(Bytes(text) + at, take);
      pieces.Add(Bytes(text) + at, 0);
      at += take;
    }
    EXPECT_EQ(pieces.Hex(), digest);
  }
  EXPECT_EQ(net::Md5Digest::HexOf(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
}
