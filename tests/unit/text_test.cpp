#include <gtest/gtest.h>

#include <vector>

#include "base/fixed_field.h"
#include "base/le_int.h"
#include "base/path_case.h"
#include "base/path_join.h"
#include "base/utf16.h"

TEST(Utf16, RoundTripsThroughUtf8) {
  const std::u16string samples[] = {u"", u"ZepClient.exe", u"\u89c6\u9891\u4f1a\u8bae\u8f6f\u4ef6",
                                    u"\u30a2\u30f3\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb",
                                    u"\U0001F600 x"};
  for (const auto& s : samples) EXPECT_EQ(vx::Utf8ToUtf16(vx::Utf16ToUtf8(s)), s);
  EXPECT_EQ(vx::Utf16ToUtf8(u"\u00e9"), "\xC3\xA9");
  EXPECT_EQ(vx::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(Utf16, InvalidInputBecomesReplacement) {
  EXPECT_EQ(vx::Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(vx::Utf8ToUtf16("\xE8\xA7"), u"\uFFFD");          // cut sequence
  EXPECT_EQ(vx::Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");    // overlong
  EXPECT_EQ(vx::Utf8ToUtf16("\xED\xA0\x80"), std::u16string(1, char16_t(0xD800)));  // lone surrogate, kept as a unit
  const std::u16string lone = {0xD800, u'x'};
  EXPECT_EQ(vx::Utf16ToUtf8(lone), "\xEF\xBF\xBDx");
}

TEST(Utf16, StreamEncodingIsPerCodeUnit) {
  // A surrogate pair is two 3-byte sequences, not one 4-byte sequence.
  EXPECT_EQ(vx::Utf16ToStreamUtf8(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(vx::Utf8ToUtf16(vx::Utf16ToStreamUtf8(u"\u4f1a")), u"\u4f1a");
}

TEST(FixedField, EncodeFillsAndLimits) {
  for (size_t width : {vx::kField80, vx::kField200, vx::kField520, vx::kField800}) {
    std::vector<uint8_t> buf(width, 0xAA);
    const std::u16string max(vx::FieldCapacity(width), u'\u4f1a');
    ASSERT_TRUE(vx::EncodeFixedField(max, width, buf.data()));
    EXPECT_EQ(buf[width - 2], 0);
    EXPECT_EQ(buf[width - 1], 0);
    EXPECT_EQ(vx::DecodeFixedField(buf.data(), width), max);
    std::vector<uint8_t> untouched(width, 0xAA);
    EXPECT_FALSE(vx::EncodeFixedField(max + u"x", width, untouched.data()));
    EXPECT_EQ(untouched, std::vector<uint8_t>(width, 0xAA));
  }
  std::vector<uint8_t> buf(80, 0xAA);
  ASSERT_TRUE(vx::EncodeFixedField(u"V4.0", 80, buf.data()));
  EXPECT_EQ(buf[0], 'V');
  EXPECT_EQ(buf[1], 0);
  for (size_t i = 8; i < 80; ++i) EXPECT_EQ(buf[i], 0) << i;
}

TEST(FixedField, DecodeCutsAtWidthWithoutTerminator) {
  std::vector<uint8_t> buf(80);
  for (size_t i = 0; i < 80; i += 2) buf[i] = 'A';
  EXPECT_EQ(vx::DecodeFixedField(buf.data(), 80), std::u16string(40, u'A'));
  buf[10] = 0;
  EXPECT_EQ(vx::DecodeFixedField(buf.data(), 80), std::u16string(5, u'A'));
}

TEST(LittleEndian, ReadWrite) {
  uint8_t b[4];
  vx::WriteLE32Signed(b, -2);
  EXPECT_EQ(b[0], 0xFE);
  EXPECT_EQ(b[3], 0xFF);
  EXPECT_EQ(vx::ReadLE32Signed(b), -2);
  vx::WriteLE32(b, 0x01000000);
  EXPECT_EQ(b[3], 1);
  EXPECT_EQ(vx::ReadLE32(b), 0x01000000u);
}

TEST(Paths, JoinAddsBackslashOnlyWhenMissing) {
  EXPECT_EQ(vx::JoinPath(u"C:\\Program Files", u"App"), u"C:\\Program Files\\App");
  EXPECT_EQ(vx::JoinPath(u"C:\\", u"App"), u"C:\\App");
  EXPECT_EQ(vx::JoinPath(u"C:\\App\\", u"uninstall.exe"), u"C:\\App\\uninstall.exe");
  EXPECT_EQ(vx::WithTrailingBackslash(u"C:\\App"), u"C:\\App\\");
  EXPECT_EQ(vx::WithTrailingBackslash(u"C:\\App\\"), u"C:\\App\\");
}

TEST(Paths, SafeRelativePaths) {
  for (const char16_t* ok : {u"a.exe", u"VMSkin\\login.bmp", u"a\\b\\c.txt", u"folder\\", u"..a\\b..",
                             u"\u89c6\u9891\\x"})
    EXPECT_TRUE(vx::IsSafeRelativePath(ok)) << vx::Utf16ToUtf8(ok);
  for (const char16_t* bad : {u"", u"\\", u"\\a.exe", u"/a", u"C:\\a", u"C:a", u"..", u"..\\a",
                              u"a\\..\\..\\b", u"a\\.\\b", u"a\\\\b", u"a/../b", u"\\\\srv\\x",
                              u"a*b", u"a\tb"})
    EXPECT_FALSE(vx::IsSafeRelativePath(bad)) << vx::Utf16ToUtf8(bad);
}

TEST(Paths, CaseIsIgnoredAsWindowsDoes) {
  EXPECT_TRUE(vx::SamePathIgnoringCase(u"C:\\Program Files\\App", u"c:\\PROGRAM FILES\\app"));
  EXPECT_TRUE(vx::SamePathIgnoringCase(u"C:\\\u00c9t\u00e9 \u0414\u043e\u043c \u03a3\u03c2 \uff21",
                                       u"c:\\\u00e9T\u00c9 \u0434\u041e\u041c \u03c3\u03a3 \uff41"));
  EXPECT_TRUE(vx::SamePathIgnoringCase(u"\u89c6\u9891", u"\u89c6\u9891"));
  for (const char16_t* other : {u"C:\\App2", u"C:\\Ap", u"C:\\App\\", u"C:/App", u"C:\\\u00c5pp"})
    EXPECT_FALSE(vx::SamePathIgnoringCase(u"C:\\App", other)) << vx::Utf16ToUtf8(other);
  EXPECT_EQ(vx::FoldCase(u"Readme.TXT \u00ff\u00f7"), u"README.TXT \u0178\u00f7");
}
