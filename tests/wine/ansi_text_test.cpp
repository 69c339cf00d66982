#include <gtest/gtest.h>
#include <windows.h>

#include "base/utf16.h"

TEST(AnsiText, RoundTripsThroughTheCodePage) {
  EXPECT_EQ(vx::AnsiToUtf16("ZepClient.exe"), u"ZepClient.exe");
  EXPECT_EQ(vx::Utf16ToAnsi(u"ZepClient.exe"), "ZepClient.exe");
  EXPECT_EQ(vx::AnsiToUtf16(""), u"");
  // Whatever the code page, its own bytes come back unchanged.
  const std::u16string wide = vx::AnsiToUtf16("caf\xE9");
  EXPECT_EQ(vx::Utf16ToAnsi(wide), "caf\xE9");
}

TEST(AnsiText, WideMatchesWin32) {
  const std::u16string s = u"\u89c6\u9891 x";
  const std::wstring w = vx::ToWide(s);
  EXPECT_EQ(lstrlenW(w.c_str()), 4);
  EXPECT_EQ(vx::FromWide(w), s);
}
