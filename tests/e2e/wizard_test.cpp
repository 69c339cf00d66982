// Wizard installs of real packages under Wine, driven from this process as a
// user would click through them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/fs_path.h"
#include "base/utf16.h"
#include "setup/wizard/message_catalogue.h"
#include "setup/wizard/text_format.h"
#include "tests/support/string_table_file.h"
#include "tools/mkpackage/package_builder.h"
#include "tools/wizard_driver/wizard_driver.h"
#include "tests/e2e/sample_variant.h"
#include "tests/support/file_io.h"

namespace fs = std::filesystem;
using wizard_driver::WizardDriver;

using testing_support::ReadAll;
using testing_support::WriteAll;

using e2e::BinDir;

namespace {

// Frame and page controls.
constexpr int kBack = 1002, kNext = 1003, kCancel = 1004, kTitle = 1005, kLanguageList = 1071,
              kAccept = 1020, kFolder = 1024, kDesktopIcon = 1035, kAddress = 1065, kSummary = 1040, kRun = 1066;
constexpr int kEnglish = 1, kJapanese = 4;



// A text of the string table in `language`, as the program shows it.
std::wstring Text(uint16_t key, int language, std::initializer_list<setup::FormatArgument> args = {}) {
  static const testing_support::StringTableFile table = testing_support::ReadStringTableFile(VC_STRING_TABLE);
  const auto found = table.texts.find(setup::TextId(key, language));
  if (found == table.texts.end()) return L"<missing>";
  return vx::ToWide(setup::FormatText(found->second, args, 330));
}

const fs::path kProbeFiles = VC_PROBE_FILES;

// Visible top-level windows with a title, of processes other than `except`
// and this one: what stands in front of the user besides the wizard.
struct WindowSearch {
  DWORD except;
  std::vector<std::wstring> found;
};

BOOL CALLBACK CollectOtherWindow(HWND window, LPARAM p) {
  auto& search = *reinterpret_cast<WindowSearch*>(p);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if (IsWindowVisible(window) && title[0] && process != search.except && process != GetCurrentProcessId())
    search.found.push_back(title);
  return TRUE;
}

std::vector<std::wstring> OtherVisibleWindows(DWORD except) {
  WindowSearch search{except, {}};
  EnumWindows(CollectOtherWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Runs `program` with `arguments` to its end, its output dropped; its exit code.
DWORD RunToEnd(const fs::path& program, const std::wstring& arguments) {
  WizardDriver process;
  if (!process.Start(program, arguments, true)) return DWORD(-1);
  return process.WaitExit(120000);
}

class WizardInstall : public ::testing::Test {
 protected:
  fs::path work;
  WizardDriver driver;

  void SetUp() override {
    work = fs::path(L"C:\\e2e-wizard") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work);
    fs::create_directories(work);
  }

  // The sample package with integer fields changed; `groupList` false drops
  // the program-group shortcuts.
  fs::path Build(const std::map<std::string, int>& fields, bool groupList = true) {
    return e2e::BuildSampleVariant(work, kProbeFiles, fields, groupList);
  }

  // Starts `package` and waits for its first page.
  void Open(const fs::path& package, int firstPage) {
    ASSERT_TRUE(driver.Start(package));
    ASSERT_TRUE(driver.WaitFrame()) << "no wizard frame";
    ASSERT_TRUE(driver.WaitPage(firstPage)) << "page " << driver.CurrentPage() << " instead of " << firstPage;
  }

  // Presses Next and returns the page shown afterwards.
  int Next() {
    const int before = driver.CurrentPage();
    driver.Click(kNext);
    wizard_driver::WaitFor([&] { const int now = driver.CurrentPage(); return now != before && now != -1; }, 5000);
    return driver.CurrentPage();
  }

  int Back() {
    const int before = driver.CurrentPage();
    driver.Click(kBack);
    wizard_driver::WaitFor([&] { const int now = driver.CurrentPage(); return now != before && now != -1; }, 5000);
    return driver.CurrentPage();
  }

  // Answers the next message box with `button` and returns its text.
  std::wstring AnswerBox(int button) {
    HWND box = driver.WaitMessageBox();
    if (!box) return L"<no message box>";
    const std::wstring text = WizardDriver::MessageText(box);
    WizardDriver::Answer(box, button);
    wizard_driver::WaitFor([&] { return !IsWindow(box); }, 5000);
    return text;
  }

  // Cancel, confirmed: the program ends with 0.
  void Quit() {
    driver.Click(kCancel);
    AnswerBox(IDYES);
    EXPECT_EQ(driver.WaitExit(), 0u);
  }

  // Opens `package` (language fixed to English), installs into `dest` and
  // waits for the progress page.
  void StartRun(const fs::path& package, const fs::path& dest) {
    Open(package, 2);
    ASSERT_EQ(Next(), 4);
    driver.Type(kFolder, dest.wstring());
    ASSERT_EQ(Next(), 5);
    ASSERT_EQ(Next(), 7);
    driver.Click(kNext);
    ASSERT_TRUE(driver.WaitPage(9));
  }

  bool WaitTitle(const std::wstring& title, DWORD timeoutMs) {
    return wizard_driver::WaitFor([&] { return driver.Text(kTitle) == title; }, timeoutMs);
  }
};

TEST_F(WizardInstall, SampleClickThroughEndsOnFinishWithFilesInPlace) {
  // Simplified Chinese from the header, no language page.
  Open(BinDir() / "sample_package.exe", 2);
  EXPECT_FALSE(driver.Visible(kBack));
  EXPECT_EQ(driver.Caption(), Text(161, 2, {u"视频会议软件", u"v4.0.2026"}));
  EXPECT_EQ(driver.Text(kNext), Text(163, 2));
  ASSERT_EQ(Next(), 4);
  const fs::path dest = work / "Quorin";
  driver.Type(kFolder, dest.wstring());
  EXPECT_TRUE(driver.Enabled(kNext));
  ASSERT_EQ(Next(), 5);
  ASSERT_EQ(Next(), 7);
  EXPECT_EQ(driver.Text(kNext), Text(263, 2));
  driver.Click(kNext);
  // The install thread moves on to the finish page by itself.
  ASSERT_TRUE(driver.WaitPage(11, 60000));
  EXPECT_EQ(driver.Text(kTitle), Text(297, 2, {u"视频会议软件", u"v4.0.2026"}));
  EXPECT_EQ(driver.Text(kNext), Text(291, 2));
  EXPECT_FALSE(driver.Visible(kCancel));
  EXPECT_FALSE(driver.Visible(kRun));  // RunOnFinish is 0 in the sample

  for (const auto& e : fs::recursive_directory_iterator(kProbeFiles)) {
    if (!e.is_regular_file()) continue;
    const fs::path rel = fs::relative(e.path(), kProbeFiles);
    // Moved into the system folder when no copy is there yet, or rewritten.
    if (rel == "qrimgoleEx.dll" || rel == "qrgrabber.ax" || rel == "language.ini") continue;
    EXPECT_EQ(ReadAll(dest / rel), ReadAll(e.path())) << rel.string();
  }
  EXPECT_TRUE(fs::exists(dest / "uninstall.exe"));
  // The progress page's status line holds the run's last detail line.
  EXPECT_EQ(driver.PageText(9, 1048), Text(391, 2));
  // Nothing the install opened (the shell's look at the spool folder) stays
  // in front of the finish page.
  Sleep(1500);
  for (const std::wstring& title : OtherVisibleWindows(driver.ProcessId()))
    ADD_FAILURE() << "a window stays open: " << vx::Utf16ToUtf8(vx::FromWide(title));
  driver.Click(kNext);
  EXPECT_EQ(driver.WaitExit(), 0u);
}

TEST_F(WizardInstall, FixedLanguageWithoutOptionalPagesShowsFivePages) {
  const fs::path package =
      Build({{"DefaultLanguage", 3}, {"ShowLicence", 0}, {"SkipServerAddress", 1}}, /*groupList=*/false);
  Open(package, 2);
  EXPECT_FALSE(driver.Visible(kBack));
  std::vector<int> pages = {2};
  pages.push_back(Next());
  driver.Type(kFolder, (work / "five").wstring());
  pages.push_back(Next());
  EXPECT_EQ(pages, (std::vector<int>{2, 4, 7}));
  driver.Click(kNext);
  ASSERT_TRUE(driver.WaitPage(11, 60000));
  EXPECT_EQ(driver.Text(kTitle), Text(297, kEnglish, {u"Video Conference", u"v4.0.2026"}));
  EXPECT_EQ(driver.PageText(9, 1048), L"Completed");
  driver.Click(kNext);
  EXPECT_EQ(driver.WaitExit(), 0u);
}

TEST_F(WizardInstall, DestinationRulesOnTheLocationPage) {
  Open(Build({{"DefaultLanguage", 3}}), 2);
  ASSERT_EQ(Next(), 4);
  for (const wchar_t* refused : {L"C:\\", L"C:", L"C:\\\\Tools", L""}) {
    driver.Type(kFolder, refused);
    EXPECT_FALSE(driver.Enabled(kNext)) << refused;
  }
  driver.Type(kFolder, L"C:\\Tools");
  EXPECT_TRUE(driver.Enabled(kNext));

  // 258 characters or more: the warning, and Next stays disabled.
  driver.Type(kFolder, L"C:\\" + std::wstring(300, L'a'));
  EXPECT_EQ(AnswerBox(IDOK), Text(447, kEnglish));
  EXPECT_FALSE(driver.Enabled(kNext));

  // A lower-case drive letter comes back upper-case.
  const std::wstring lower = L"c:\\e2e-wizard\\lower case";
  driver.Type(kFolder, lower);
  ASSERT_EQ(Next(), 5);
  ASSERT_EQ(Back(), 4);
  EXPECT_EQ(driver.Text(kFolder), L"C:\\e2e-wizard\\lower case");
  Quit();
}

TEST_F(WizardInstall, CancelAsksAndNoStays) {
  Open(Build({{"DefaultLanguage", 3}}), 2);
  driver.Click(kCancel);
  EXPECT_EQ(AnswerBox(IDNO), Text(425, kEnglish, {u"Video Conference", u"v4.0.2026"}));
  Sleep(300);
  EXPECT_TRUE(driver.Running());
  EXPECT_EQ(driver.CurrentPage(), 2);
  Quit();
}

TEST_F(WizardInstall, CancelWhileTheRunWorksAsksStopsAndTakesBackTheFiles) {
  // Enough small files that the run is still working when Cancel is pressed
  // (it waits while the question stands, so only the clicks race it).
  const fs::path files = work / "files";
  fs::copy(kProbeFiles, files, fs::copy_options::recursive);
  constexpr int kFillers = 4000, kPerFolder = 500;
  for (int i = 0; i < kFillers; ++i) {
    const fs::path folder = files / ("fill" + std::to_string(i / kPerFolder));
    if (i % kPerFolder == 0) fs::create_directories(folder);
    std::ofstream(folder / ("filler" + std::to_string(i) + ".txt")) << i;
  }
  const fs::path dest = work / "cancelled";
  StartRun(e2e::BuildSampleVariant(work, files, {{"DefaultLanguage", 3}}), dest);
  driver.Click(kCancel);
  // The run waits while the question stands; No lets it go on.
  HWND question = driver.WaitMessageBox();
  ASSERT_TRUE(question);
  const auto written = [&] {
    std::error_code ec;
    return std::distance(fs::recursive_directory_iterator(dest, ec), fs::recursive_directory_iterator());
  };
  const auto before = written();
  Sleep(500);
  EXPECT_EQ(written(), before);
  EXPECT_EQ(WizardDriver::MessageText(question), Text(425, kEnglish, {u"Video Conference", u"v4.0.2026"}));
  WizardDriver::Answer(question, IDNO);
  EXPECT_TRUE(wizard_driver::WaitFor([&] { return written() > before; }, 10000));
  EXPECT_TRUE(driver.Running());
  driver.Click(kCancel);
  AnswerBox(IDYES);
  EXPECT_EQ(driver.WaitExit(), 0u);
  // Stopped between files: what this run wrote is gone with the folder it made.
  EXPECT_FALSE(fs::exists(dest)) << "left: " << (fs::exists(dest) ? std::distance(fs::directory_iterator(dest),
                                                                                    fs::directory_iterator()) : 0);

  // The uninstall of the same product asks too, and stops with its records
  // and its uninstaller in place, so that it can be run again.
  RunToEnd(BinDir() / "setup_controller.exe",
           L"\"" + (work / "package.exe").wstring() + L"\" -en \"" + dest.wstring() + L"\"");
  ASSERT_TRUE(fs::exists(dest / "uninstall.exe"));
  fs::create_directories(work / "temporary");
  fs::copy_file(dest / "uninstall.exe", work / "temporary" / "uninstall.exe");
  WizardDriver uninstall;
  ASSERT_TRUE(uninstall.Start(work / "temporary" / "uninstall.exe", L"\"" + dest.wstring() + L"\""));
  ASSERT_TRUE(uninstall.WaitFrame()) << "no uninstall wizard";
  ASSERT_TRUE(uninstall.WaitPage(8)) << uninstall.CurrentPage();
  uninstall.Click(kNext);
  ASSERT_TRUE(uninstall.WaitPage(9));
  uninstall.Click(kCancel);
  HWND box = uninstall.WaitMessageBox();
  ASSERT_TRUE(box) << "the uninstall ended without asking";
  EXPECT_EQ(WizardDriver::MessageText(box), Text(425, kEnglish, {u"Video Conference", u"v4.0.2026"}));
  WizardDriver::Answer(box, IDYES);
  EXPECT_EQ(uninstall.WaitExit(), 0u);
  EXPECT_TRUE(fs::exists(dest / "uninstall.exe"));
  EXPECT_TRUE(fs::exists(dest / "fill7" / "filler3999.txt"));
  const wchar_t* const entryKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Video Conference";
  HKEY entry;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, entryKey, 0, KEY_READ, &entry), ERROR_SUCCESS);
  RegCloseKey(entry);

  // Run again, it removes the rest.
  WizardDriver again;
  ASSERT_TRUE(again.Start(work / "temporary" / "uninstall.exe", L"\"" + dest.wstring() + L"\""));
  ASSERT_TRUE(again.WaitFrame()) << "no second uninstall wizard";
  ASSERT_TRUE(again.WaitPage(8));
  again.Click(kNext);
  ASSERT_TRUE(again.WaitPage(11, 120000)) << again.CurrentPage();
  again.Click(kNext);
  EXPECT_EQ(again.WaitExit(), 0u);
  EXPECT_FALSE(fs::exists(dest / "fill7" / "filler3999.txt"));
  EXPECT_FALSE(fs::exists(dest / "uninstall.exe"));
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, entryKey, 0, KEY_READ, &entry), ERROR_SUCCESS);
}

TEST_F(WizardInstall, FailedInstallStaysOnTheProgressPageWithOnlyCancel) {
  const fs::path dest = work / "held";
  fs::create_directories(dest);
  std::ofstream(dest / "ZepClient.exe") << "old";
  HANDLE held = CreateFileW((dest / "ZepClient.exe").wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  StartRun(Build({{"DefaultLanguage", 3}}), dest);
  // The file in use is named in the prompt; the run then stops.
  const std::wstring prompt = AnswerBox(IDOK);
  EXPECT_NE(prompt.find(L"ZepClient.exe"), std::wstring::npos) << prompt;
  EXPECT_TRUE(WaitTitle(Text(287, kEnglish), 10000)) << driver.Text(kTitle);
  EXPECT_EQ(driver.CurrentPage(), 9);
  EXPECT_FALSE(driver.Enabled(kNext));
  EXPECT_FALSE(driver.Enabled(kBack));
  EXPECT_TRUE(driver.Enabled(kCancel));
  CloseHandle(held);
  EXPECT_EQ(ReadAll(dest / "ZepClient.exe"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  // Cancel still asks.
  Quit();
}

TEST_F(WizardInstall, JapaneseOnTheLanguagePageRetitlesAtOnceAndTheLicenceGuardsNext) {
  Open(Build({{"DefaultLanguage", 0}, {"ShowLicence", 1}}), 1);
  EXPECT_FALSE(driver.Visible(kBack));
  driver.Choose(kLanguageList, kJapanese - 1);
  const std::wstring caption = Text(161, kJapanese, {u"ビデオ会議ソフト", u"v4.0.2026"});
  EXPECT_TRUE(wizard_driver::WaitFor([&] { return driver.Caption() == caption; }, 5000)) << driver.Caption();
  EXPECT_EQ(driver.Text(kNext), Text(163, kJapanese));
  EXPECT_EQ(driver.Text(kCancel), Text(165, kJapanese));

  ASSERT_EQ(Next(), 2);
  EXPECT_TRUE(driver.Visible(kBack));  // the language page is there to go back to
  ASSERT_EQ(Next(), 3);
  EXPECT_EQ(driver.Text(kNext), Text(176, kJapanese));
  EXPECT_FALSE(driver.Enabled(kNext));
  driver.Click(kAccept);
  EXPECT_TRUE(wizard_driver::WaitFor([&] { return driver.Enabled(kNext); }, 5000));
  ASSERT_EQ(Next(), 4);
  Quit();
}

TEST_F(WizardInstall, ServerAddressIsRequiredAndTheSummaryListsCheckedIcons) {
  Open(Build({{"DefaultLanguage", 3}, {"SkipServerAddress", 0}}), 2);
  ASSERT_EQ(Next(), 4);
  driver.Type(kFolder, (work / "tasks").wstring());
  ASSERT_EQ(Next(), 5);
  ASSERT_EQ(Next(), 6);
  driver.Click(kNext);
  EXPECT_EQ(AnswerBox(IDOK), Text(439, kEnglish));
  EXPECT_EQ(driver.CurrentPage(), 6);

  driver.Click(kDesktopIcon);  // clears the desktop icon
  driver.SetAddress(kAddress, 192, 168, 0, 7);
  ASSERT_EQ(Next(), 7);
  const std::wstring summary = driver.Text(kSummary);
  EXPECT_NE(summary.find(L"Create a Start Menu icon"), std::wstring::npos) << summary;
  EXPECT_EQ(summary.find(L"Create a Desktop icon"), std::wstring::npos) << summary;
  EXPECT_NE(summary.find(L"Create a Quick Launch icon"), std::wstring::npos) << summary;
  EXPECT_EQ(summary.find(L"Destination location:\r\n" + (work / "tasks").wstring()), 0u) << summary;
  Quit();
}

}  // namespace

TEST_F(WizardInstall, UninstallerRemovesPartlyOrAllAndStopsOnFilesInUse) {
  constexpr int kPartly = 1045, kAll = 1046, kDescription = 1047;
  constexpr int kChinese = 2;
  const fs::path dest = work / "installed";
  RunToEnd(BinDir() / "setup_controller.exe",
           L"\"" + (BinDir() / "sample_package.exe").wstring() + L"\" -en \"" + dest.wstring() + L"\"");
  ASSERT_TRUE(fs::exists(dest / "uninstall.exe"));
  // Started from its folder the uninstaller runs a temporary copy of itself
  // with the folder as argument; the test runs such a copy directly.
  fs::create_directories(work / "temporary");
  const fs::path uninstaller = work / "temporary" / "uninstall.exe";
  fs::copy_file(dest / "uninstall.exe", uninstaller);
  const std::wstring folder = L"\"" + dest.wstring() + L"\"";

  // A file held open stops it before the wizard, with the prompt.
  {
    // The shell may still be reading the new links' target for its icon.
    HANDLE held = INVALID_HANDLE_VALUE;
    wizard_driver::WaitFor([&] {
      held = CreateFileW((dest / "ZepClient.exe").wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
      return held != INVALID_HANDLE_VALUE;
    }, 10000);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(driver.Start(uninstaller, folder));
    HWND box = driver.WaitMessageBox(20000);
    ASSERT_TRUE(box);
    EXPECT_EQ(WizardDriver::MessageText(box), Text(451, kChinese));
    WizardDriver::Answer(box, IDOK);
    EXPECT_EQ(driver.WaitExit(), 0u);
    EXPECT_FALSE(driver.WaitFrame(100));
    CloseHandle(held);
  }

  // Copied elsewhere it ends silently: its record names another folder.
  fs::create_directories(work / "elsewhere");
  fs::copy_file(dest / "uninstall.exe", work / "elsewhere" / "uninstall.exe");
  EXPECT_EQ(RunToEnd(work / "elsewhere" / "uninstall.exe", L"\"" + (work / "elsewhere").wstring() + L"\""), 0u);

  // The options page in the language of the install; Delete All asks first.
  // Given its folder as an 8.3 name in other letter case, it is the same folder.
  wchar_t shortName[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(dest.wstring().c_str(), shortName, MAX_PATH), 0u);
  std::wstring otherSpelling = shortName;
  for (auto& c : otherSpelling) c = iswupper(c) ? towlower(c) : towupper(c);
  WizardDriver uninstall;
  ASSERT_TRUE(uninstall.Start(uninstaller, L"\"" + otherSpelling + L"\""));
  ASSERT_TRUE(uninstall.WaitFrame());
  ASSERT_TRUE(uninstall.WaitPage(8));
  EXPECT_EQ(uninstall.Caption(), Text(365, kChinese, {u"视频会议软件", u"v4.0.2026"}));
  EXPECT_FALSE(uninstall.Visible(kBack));
  EXPECT_EQ(uninstall.Text(kNext), Text(269, kChinese));
  EXPECT_EQ(uninstall.Text(1044), dest.wstring());
  uninstall.Click(kAll);
  EXPECT_TRUE(wizard_driver::WaitFor([&] { return uninstall.Text(kDescription) == Text(417, kChinese); }, 5000));
  uninstall.Click(kNext);
  HWND box = uninstall.WaitMessageBox();
  ASSERT_TRUE(box);
  WizardDriver::Answer(box, IDNO);
  Sleep(300);
  EXPECT_EQ(uninstall.CurrentPage(), 8);
  uninstall.Click(kPartly);
  EXPECT_TRUE(wizard_driver::WaitFor([&] { return uninstall.Text(kDescription) == Text(415, kChinese); }, 5000));

  // Partial removal: the listed files and uninstall.exe go, the user's own
  // files and the folders holding them stay, emptied folders go.
  WriteAll(dest / "user.txt", {'u'});
  WriteAll(dest / "mine" / "keep.txt", {'k'});
  uninstall.Click(kNext);
  ASSERT_TRUE(uninstall.WaitPage(11, 60000));
  EXPECT_EQ(uninstall.Text(kTitle), Text(293, kChinese, {u"视频会议软件", u"v4.0.2026"}));
  EXPECT_EQ(uninstall.PageText(9, 1048), Text(391, kChinese));
  EXPECT_FALSE(uninstall.Visible(kRun));
  uninstall.Click(kNext);
  EXPECT_EQ(uninstall.WaitExit(), 0u);
  EXPECT_FALSE(fs::exists(dest / "ZepClient.exe"));
  EXPECT_FALSE(fs::exists(dest / "uninstall.exe"));
  EXPECT_FALSE(fs::exists(dest / "VMSkin"));
  EXPECT_TRUE(fs::exists(dest / "user.txt"));
  EXPECT_TRUE(fs::exists(dest / "mine" / "keep.txt"));

  // Complete removal, confirmed: the whole folder goes, user files too.
  const fs::path again = work / "again";
  RunToEnd(BinDir() / "setup_controller.exe",
           L"\"" + (BinDir() / "sample_package.exe").wstring() + L"\" -en \"" + again.wstring() + L"\"");
  WriteAll(again / "mine" / "notes.txt", {'n'});
  fs::remove(uninstaller);
  fs::copy_file(again / "uninstall.exe", uninstaller);
  WizardDriver complete;
  ASSERT_TRUE(complete.Start(uninstaller, L"\"" + again.wstring() + L"\""));
  ASSERT_TRUE(complete.WaitFrame());
  ASSERT_TRUE(complete.WaitPage(8));
  complete.Click(kAll);
  Sleep(300);
  complete.Click(kNext);
  box = complete.WaitMessageBox();
  ASSERT_TRUE(box);
  WizardDriver::Answer(box, IDYES);
  ASSERT_TRUE(complete.WaitPage(11, 60000));
  complete.Click(kNext);
  EXPECT_EQ(complete.WaitExit(), 0u);
  EXPECT_FALSE(fs::exists(again));
}
