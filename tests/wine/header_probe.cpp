// Packaged with the sample product by the test fixture, then run: reads its
// own appended header the way the setup program does.
#include <gtest/gtest.h>
#include <windows.h>

#include "setup/startup/instance_data.h"
#include "setup/startup/setup_state.h"
#include "setup/startup/win_header_environment.h"

TEST(OwnHeader, ReadsTheSampleProduct) {
  ASSERT_NE(setup::HeaderOffset(), 0u) << "run the packaged copy";
  setup::SetupState& s = setup::State();
  s.Language = setup::kEnglish;
  ASSERT_TRUE(setup::ReadPackageHeader());
  EXPECT_EQ(s.payloadOffset, setup::HeaderOffset() + 14240u);
  // DefaultLanguage 1 in the header is simplified Chinese.
  EXPECT_EQ(s.Language, setup::kChineseSimplified);
  EXPECT_EQ(s.ProductName, u"\u89c6\u9891\u4f1a\u8bae\u8f6f\u4ef6");
  EXPECT_EQ(s.header.MainExe, u"ZepClient.exe");
  EXPECT_EQ(s.header.VersionLabel, u"v4.0.2026");
  ASSERT_EQ(s.header.ProgramGroupShortcuts.size(), 5u);  // four + the uninstall node
  EXPECT_EQ(s.header.ProgramGroupShortcuts[4].Target, u"uninstall.exe");
  EXPECT_EQ(s.header.ProgramGroupShortcuts[4].CaptionEn, u"Uninstall  Video Conference");
  EXPECT_EQ(s.ProgramGroup, u"\u89c6\u9891\u4f1a\u8bae\u8f6f\u4ef6");
  EXPECT_TRUE(s.hasStartMenu && s.hasDesktop && s.hasQuickLaunch);
  ASSERT_FALSE(s.ProgramsBase.empty());
  EXPECT_EQ(s.ProgramsBase.back(), u'\\');
  // Default destination: Program Files + folder name.
  EXPECT_NE(s.InstallDir.find(u"\\\u89c6\u9891\u4f1a\u8bae\u8f6f\u4ef6"), std::u16string::npos);
  EXPECT_EQ(s.InstallDir.find(u'('), std::u16string::npos);
}
