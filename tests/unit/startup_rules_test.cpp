#include <gtest/gtest.h>

#include "setup/startup/header_loader.h"
#include "setup/startup/language_strings.h"
#include "setup/startup/startup_rules.h"
#include "setup/wizard/os_classification.h"
#include "setup/wizard/version_compare.h"

using namespace setup;
using Action = StartupPlan::Action;
using Args = std::vector<std::u16string>;

TEST(StartupRules, RoleFromMarkerWithoutArguments) {
  EXPECT_EQ(PlanStartup(package::kFreshMarker, {u"setup.exe"}, kEnglish).action, Action::Wizard);
  EXPECT_EQ(PlanStartup({1, 2}, {u"setup.exe"}, kEnglish).action, Action::Wizard);
  EXPECT_EQ(PlanStartup(package::kUninstallerMarker, {u"u.exe"}, kEnglish).action,
            Action::RelaunchUninstaller);
  EXPECT_EQ(PlanStartup(package::kUpdateMarker, {u"u.exe"}, kEnglish).action, Action::RelaunchUpdate);
}

TEST(StartupRules, CommandLineTable) {
  // Uninstaller marker and one argument: the uninstall run, no relaunch.
  StartupPlan p = PlanStartup(package::kUninstallerMarker, {u"zz~1.tmp", u"C:\\App"}, kEnglish);
  EXPECT_EQ(p.action, Action::Uninstall);
  EXPECT_EQ(p.folder, u"C:\\App");
  // Update marker and one argument: the update run, whatever the argument.
  p = PlanStartup(package::kUpdateMarker, {u"uninstall.exe", u"-d"}, kEnglish);
  EXPECT_EQ(p.action, Action::UpdateRun);
  EXPECT_EQ(p.folder, u"-d");
  // "-d" is case-sensitive: "-D" is a folder.
  p = PlanStartup(package::kFreshMarker, {u"s", u"-D", u"0", u"123"}, kEnglish);
  EXPECT_EQ(p.action, Action::Uninstall);
  EXPECT_EQ(p.folder, u"-D");
}

TEST(StartupRules, DrivenStart) {
  // Window item 0, or missing: return at once.
  EXPECT_EQ(PlanStartup(package::kFreshMarker, {u"s", u"-d", u"0", u"0"}, kEnglish).action,
            Action::DrivenNoWindow);
  EXPECT_EQ(PlanStartup(package::kFreshMarker, {u"s", u"-d", u"0"}, kEnglish).action,
            Action::DrivenNoWindow);
  EXPECT_EQ(PlanStartup(package::kFreshMarker, {u"s", u"-d", u"0", u"abc"}, kEnglish).action,
            Action::DrivenNoWindow);
  // Four items: system language, default destination.
  StartupPlan p = PlanStartup(package::kFreshMarker, {u"s", u"-d", u"x", u"655"}, kJapanese);
  EXPECT_EQ(p.action, Action::Driven);
  EXPECT_EQ(p.controllerWindow, 655u);
  // A handle with bit 31 set is the same window to a 32- and a 64-bit program.
  EXPECT_EQ(PlanStartup(package::kFreshMarker, {u"s", u"-d", u"0", u"2147549184"}, kEnglish).controllerWindow,
            static_cast<uintptr_t>(static_cast<intptr_t>(int32_t(-2147418112))));
  EXPECT_EQ(p.language, kJapanese);
  EXPECT_FALSE(p.hasDestination);
  // Five items with "-JP": Japanese, default destination.
  p = PlanStartup(package::kFreshMarker, {u"s", u"-d", u"0", u"12", u"-JP"}, kEnglish);
  EXPECT_EQ(p.language, kJapanese);
  EXPECT_FALSE(p.hasDestination);
  // Six items: that folder; an unrecognised switch gives the system language.
  p = PlanStartup(package::kFreshMarker, {u"s", u"-d", u"0", u"12", u"-fr", u"D:\\Dest"},
                  kChineseTraditional);
  EXPECT_EQ(p.language, kChineseTraditional);
  EXPECT_TRUE(p.hasDestination);
  EXPECT_EQ(p.folder, u"D:\\Dest");
  // Seven items: the destination is not used.
  p = PlanStartup(package::kFreshMarker, {u"s", u"-d", u"0", u"12", u"-gb", u"D:\\x", u"more"},
                  kEnglish);
  EXPECT_EQ(p.language, kChineseSimplified);
  EXPECT_FALSE(p.hasDestination);
}

TEST(StartupRules, Languages) {
  EXPECT_EQ(LanguageFromLocale(1028), kChineseTraditional);
  EXPECT_EQ(LanguageFromLocale(1041), kJapanese);
  EXPECT_EQ(LanguageFromLocale(2052), kChineseSimplified);
  EXPECT_EQ(LanguageFromLocale(3076), kEnglish);  // Chinese (Hong Kong)
  EXPECT_EQ(LanguageFromLocale(1033), kEnglish);
  EXPECT_EQ(LanguageFromSwitch(u"-EN"), kEnglish);
  EXPECT_EQ(LanguageFromSwitch(u"-Gb"), kChineseSimplified);
  EXPECT_EQ(LanguageFromSwitch(u"-BIG"), kChineseTraditional);
  EXPECT_EQ(LanguageFromSwitch(u"-jp"), kJapanese);
  EXPECT_EQ(LanguageFromSwitch(u"en"), 0);
  EXPECT_EQ(LanguageFromHeader(1, kEnglish), kChineseSimplified);
  EXPECT_EQ(LanguageFromHeader(2, kEnglish), kChineseTraditional);
  EXPECT_EQ(LanguageFromHeader(3, kJapanese), kEnglish);
  EXPECT_EQ(LanguageFromHeader(4, kEnglish), kJapanese);
  EXPECT_EQ(LanguageFromHeader(0, kChineseTraditional), kChineseTraditional);
  EXPECT_EQ(LanguageFromHeader(7, kJapanese), kJapanese);
}

TEST(StartupRules, OsClassificationTable) {
  EXPECT_EQ(ClassifyOs(0, 3, 1), OsClass::Unsupported);
  EXPECT_EQ(ClassifyOs(1, 4, 10), OsClass::Windows95Family);
  EXPECT_EQ(ClassifyOs(2, 4, 0), OsClass::NtFamily);
  EXPECT_EQ(ClassifyOs(2, 3, 51), OsClass::NtFamily);
  for (uint32_t minor : {0u, 1u, 2u}) EXPECT_EQ(ClassifyOs(2, 5, minor), OsClass::NtFamily);
  EXPECT_EQ(ClassifyOs(2, 5, 3), OsClass::Unknown);
  EXPECT_EQ(ClassifyOs(2, 6, 0), OsClass::NtFamily);
  EXPECT_EQ(ClassifyOs(2, 6, 1), OsClass::NtFamily);
  EXPECT_EQ(ClassifyOs(2, 6, 3), OsClass::NtFamily);
  EXPECT_EQ(ClassifyOs(2, 10, 1), OsClass::NtFamily);
  EXPECT_EQ(ClassifyOs(2, 7, 0), OsClass::Unknown);
  EXPECT_EQ(ClassifyOs(2, 10, 0), OsClass::Unknown);
  EXPECT_EQ(ClassifyOs(3, 6, 1), OsClass::Unknown);
}

TEST(LanguageStrings, DefaultDestinationReplacesBracketsOfTheFolderNameOnly) {
  EXPECT_EQ(DefaultDestination(u"C:\\Program Files (x86)", u"App (Server)"), u"C:\\Program Files (x86)\\App _Server_");
  EXPECT_EQ(DefaultDestination(u"", u"App\uFF08v2\uFF09"), u"C:\\App_v2_");
}

namespace {

class FakeEnvironment : public HeaderEnvironment {
 public:
  std::u16string ProgramFilesBase(bool allUsers) override {
    return allUsers ? u"C:\\Program Files" : u"C:\\Program Files (old)";
  }
  bool ProgramsFolder(bool, std::u16string& folder) override {
    ++programsQueries;
    folder = u"C:\\Menu\\Programs";
    return programsOk;
  }
  bool SubFolders(const std::u16string& folder, std::vector<std::u16string>& names) override {
    EXPECT_EQ(folder, u"C:\\Menu\\Programs\\");
    names = {u"Accessories", u"Games"};
    return true;
  }
  void RegisterAddressControl() override { ++addressControls; }
  int programsQueries = 0;
  int addressControls = 0;
  bool programsOk = true;
};

package::PackageHeader SampleHeader() {
  package::PackageHeader h;
  h.ProductNameGb = u"\u89c6\u9891";
  h.ProductNameBig5 = u"\u8996\u8a0a";
  h.ProductNameEn = u"Video";
  h.ProductNameJp = u"\u30d3\u30c7\u30aa";
  h.FolderNameGb = u"\u89c6\u9891(gb)";
  h.FolderNameEn = u"VideoEn";
  h.ProgramGroupEn = u"Video Group";
  h.DefaultLanguage = 3;
  h.SkipServerAddress = 1;
  for (int i = 0; i < 4; ++i) h.ProgramGroupShortcuts.push_back({u"a", u"", u"", u"", u"a.exe"});
  h.StartMenuShortcuts = h.DesktopShortcuts = h.QuickLaunchShortcuts = {{u"a", u"", u"", u"", u"a.exe"}};
  return h;
}

bool Load(const package::PackageHeader& h, SetupState& s, FakeEnvironment& env) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(package::WriteHeader(h, bytes, error));
  package::MemorySource src(bytes.data(), bytes.size());
  return LoadPackageHeader(src, 1000, s, env);
}

}  // namespace

TEST(HeaderLoader, FillsTheSetupState) {
  SetupState s;
  s.Language = kJapanese;
  FakeEnvironment env;
  ASSERT_TRUE(Load(SampleHeader(), s, env));
  EXPECT_EQ(s.payloadOffset, 1000u + 14240);
  EXPECT_EQ(s.Language, kEnglish);  // DefaultLanguage 3
  EXPECT_EQ(s.ProductName, u"Video");
  EXPECT_EQ(s.ProgramGroup, u"Video Group");
  EXPECT_EQ(s.InstallDir, u"C:\\Program Files\\VideoEn");
  EXPECT_EQ(s.ProgramsBase, u"C:\\Menu\\Programs\\");
  EXPECT_EQ(s.ExistingGroups, (std::vector<std::u16string>{u"Accessories", u"Games"}));
  ASSERT_EQ(s.header.ProgramGroupShortcuts.size(), 5u);
  const package::ShortcutEntry& u = s.header.ProgramGroupShortcuts[4];
  EXPECT_EQ(u.Target, u"uninstall.exe");
  EXPECT_EQ(u.CaptionGb, u"\u5378\u8f7d  \u89c6\u9891");
  EXPECT_EQ(u.CaptionBig5, u"\u79fb\u9664  \u8996\u8a0a");
  EXPECT_EQ(u.CaptionEn, u"Uninstall  Video");
  EXPECT_EQ(u.CaptionJp, u"\u30a2\u30f3\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb \u30d3\u30c7\u30aa");
  EXPECT_EQ(env.addressControls, 0);

  // Simplified Chinese, per-user: the brackets of the folder name are replaced,
  // the system's folder keeps its name.
  s = {};
  s.AllUsers = false;
  package::PackageHeader h = SampleHeader();
  h.DefaultLanguage = 1;
  ASSERT_TRUE(Load(h, s, env));
  EXPECT_EQ(s.InstallDir, u"C:\\Program Files (old)\\\u89c6\u9891_gb_");
}

TEST(HeaderLoader, LanguageAndPackageKinds) {
  FakeEnvironment env;
  SetupState s;
  s.Language = kChineseTraditional;
  package::PackageHeader h = SampleHeader();
  h.DefaultLanguage = 0;  // keeps the system-derived language
  h.SkipServerAddress = 0;
  ASSERT_TRUE(Load(h, s, env));
  EXPECT_EQ(s.Language, kChineseTraditional);
  EXPECT_TRUE(s.AskServerAddress);
  EXPECT_EQ(env.addressControls, 1);

  // A server package: English folder name, never the server address.
  s = {};
  s.Language = kChineseSimplified;
  h = SampleHeader();
  h.DefaultLanguage = 7;
  h.ServerPackage = 1;
  h.SkipServerAddress = 0;
  ASSERT_TRUE(Load(h, s, env));
  EXPECT_EQ(s.Language, kChineseSimplified);
  EXPECT_EQ(s.FolderName, u"VideoEn");
  EXPECT_FALSE(s.AskServerAddress);
}

TEST(HeaderLoader, EmptyProgramGroupAndFailures) {
  FakeEnvironment env;
  SetupState s;
  package::PackageHeader h = SampleHeader();
  h.ProgramGroupShortcuts.clear();
  ASSERT_TRUE(Load(h, s, env));
  EXPECT_TRUE(s.header.ProgramGroupShortcuts.empty());  // no uninstall node
  EXPECT_TRUE(s.ProgramsBase.empty());
  EXPECT_EQ(env.programsQueries, 0);

  env.programsOk = false;
  EXPECT_FALSE(Load(SampleHeader(), s, env));

  std::vector<uint8_t> bytes(4219, 0);
  package::MemorySource src(bytes.data(), bytes.size());
  EXPECT_FALSE(LoadPackageHeader(src, 0, s, env));
}

TEST(VersionCompare, TextualRuns) {
  EXPECT_EQ(CompareVersions(u"2.9", u"2.10"), 1);  // installed sorts after: "newer"
  EXPECT_EQ(CompareVersions(u"V3.0.2 build", u"3.0.2"), 0);
  EXPECT_EQ(CompareVersions(u"3.10", u"3.9"), -1);
  EXPECT_EQ(CompareVersions(u"3.0", u"3.0.1"), -1);
  EXPECT_EQ(CompareVersions(u"v3.0.2012", u"v4.0.2026"), -1);
  EXPECT_EQ(CompareVersions(u"no digits", u""), 0);
  EXPECT_EQ(CompareVersions(u"x", u"1"), -1);
  EXPECT_EQ(VersionRun(u"ver 1.2a3"), u"1.2");
}
