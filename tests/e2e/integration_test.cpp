// What an install leaves outside its folder (shell links, the product key,
// the uninstall entry, Run values) and what its uninstaller takes away, read
// back through the shell and registry interfaces.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/utf16.h"
#include "setup/wizard/message_catalogue.h"
#include "setup/wizard/text_format.h"
#include "tests/e2e/driven_run.h"
#include "tests/e2e/sample_variant.h"
#include "tests/support/file_io.h"
#include "tests/support/string_table_file.h"
#include "tools/wizard_driver/wizard_driver.h"

namespace fs = std::filesystem;
using wizard_driver::WizardDriver;
using Values = std::map<std::wstring, std::wstring>;

namespace {

constexpr int kNext = 1003, kCancel = 1004, kFolder = 1024, kGroupName = 1029, kPartly = 1045, kAll = 1046;
constexpr int kStatusLine = 1048, kBar = 1049, kDetailList = 1051;
constexpr int kEnglish = 1, kChinese = 2, kJapanese = 4;
const fs::path kProbeFiles = VC_PROBE_FILES;
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring Text(uint16_t key, int language, std::initializer_list<setup::FormatArgument> args = {}) {
  static const testing_support::StringTableFile table = testing_support::ReadStringTableFile(VC_STRING_TABLE);
  const auto found = table.texts.find(setup::TextId(key, language));
  if (found == table.texts.end()) return L"<missing>";
  return vx::ToWide(setup::FormatText(found->second, args, 330));
}

fs::path SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}

// Every REG_SZ value of HKLM\`key` (and the product's list of counted shared
// files, its entries zero-separated); an empty map with `found` false when
// the key does not open.
Values ReadKey(const std::wstring& key, bool& found) {
  Values values;
  HKEY h;
  found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS;
  if (!found) return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0, size = 0;
    BYTE data[4096];
    size = sizeof data;
    if (RegEnumValueW(h, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    EXPECT_TRUE(type == REG_SZ || (type == REG_MULTI_SZ && std::wstring(name) == L"SharedFiles")) << name;
    std::wstring text(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
    EXPECT_TRUE(!text.empty() && text.back() == L'\0') << name << ": the terminating zero is stored";
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    values[name] = text;
  }
  RegCloseKey(h);
  return values;
}

bool KeyExists(const std::wstring& key) {
  bool found = false;
  ReadKey(key, found);
  return found;
}

bool RunValue(const std::wstring& name, std::wstring& data) {
  bool found = false;
  const Values run = ReadKey(kRunKey, found);
  const auto it = run.find(name);
  if (it == run.end()) return false;
  data = it->second;
  return true;
}

void SetRunValue(const std::wstring& name, const std::wstring* data) {
  HKEY h;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &h), ERROR_SUCCESS);
  if (data)
    RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data->c_str()),
                   DWORD((data->size() + 1) * sizeof(wchar_t)));
  else
    RegDeleteValueW(h, name.c_str());
  RegCloseKey(h);
}

struct Link {
  std::wstring target, workingDirectory;
};

// A saved shell link read back through IShellLinkW.
bool ReadLink(const fs::path& path, Link& link) {
  IShellLinkW* shellLink = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shellLink))))
    return false;
  IPersistFile* file = nullptr;
  bool ok = SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
  wchar_t target[MAX_PATH] = {}, directory[MAX_PATH] = {};
  ok = ok && SUCCEEDED(file->Load(path.wstring().c_str(), STGM_READ)) &&
       SUCCEEDED(shellLink->GetPath(target, MAX_PATH, nullptr, 0)) &&
       SUCCEEDED(shellLink->GetWorkingDirectory(directory, MAX_PATH));
  if (file) file->Release();
  shellLink->Release();
  link = {target, directory};
  return ok;
}

// The lines of the detail list that start like `key`'s text in `language`.
size_t LinesStartingWith(const std::vector<std::wstring>& lines, uint16_t key, int language) {
  std::wstring prefix = Text(key, language, {u""});
  size_t n = 0;
  for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

class Integration : public ::testing::Test {
 protected:
  fs::path work;
  void SetUp() override {
    CoInitialize(nullptr);
    work = fs::path(L"C:\\e2e-integration") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work);
    fs::create_directories(work);
  }
  void TearDown() override { CoUninitialize(); }

  fs::path Build(const std::map<std::string, int>& fields,
                 const std::vector<std::pair<std::string, std::string>>& edits = {}) {
    return e2e::BuildSampleVariant(work, kProbeFiles, fields, true, edits);
  }

  // Clicks through the wizard of `package` (welcome, destination, program
  // menu, ready) into `dest`, with `group` typed on the program-menu page
  // when given; the detail list of the run.
  std::vector<std::wstring> WizardInstall(const fs::path& package, const fs::path& dest,
                                          const std::wstring& group = L"") {
    WizardDriver d;
    EXPECT_TRUE(d.Start(package));
    EXPECT_TRUE(d.WaitFrame());
    EXPECT_TRUE(d.WaitPage(2));
    d.Click(kNext);
    EXPECT_TRUE(d.WaitPage(4));
    d.Type(kFolder, dest.wstring());
    d.Click(kNext);
    EXPECT_TRUE(d.WaitPage(5));
    if (!group.empty()) d.Type(kGroupName, group);
    d.Click(kNext);
    EXPECT_TRUE(d.WaitPage(7));
    d.Click(kNext);
    EXPECT_TRUE(d.WaitPage(11, 60000)) << "the install did not finish";
    const std::vector<std::wstring> lines = d.PageListItems(9, kDetailList);
    m_progressPosition = d.PageProgressPosition(9, kBar);
    m_progressUpper = d.PageProgressUpper(9, kBar);
    d.Click(kNext);
    EXPECT_EQ(d.WaitExit(), 0u);
    return lines;
  }

  // Runs the uninstaller of `dest` (a temporary copy with the folder as
  // argument, as it relaunches itself), partly or completely; the detail list.
  std::vector<std::wstring> Uninstall(const fs::path& dest, bool complete) {
    const fs::path copy = work / "temporary" / "uninstall.exe";
    fs::create_directories(copy.parent_path());
    fs::copy_file(dest / "uninstall.exe", copy, fs::copy_options::overwrite_existing);
    WizardDriver u;
    EXPECT_TRUE(u.Start(copy, L"\"" + dest.wstring() + L"\""));
    EXPECT_TRUE(u.WaitFrame());
    EXPECT_TRUE(u.WaitPage(8));
    if (complete) {
      u.Click(kAll);
      Sleep(300);
    }
    u.Click(kNext);
    if (complete) {
      HWND box = u.WaitMessageBox();
      EXPECT_TRUE(box);
      if (box) WizardDriver::Answer(box, IDYES);
    }
    EXPECT_TRUE(u.WaitPage(11, 60000)) << "the uninstall did not finish";
    const std::vector<std::wstring> lines = u.PageListItems(9, kDetailList);
    u.Click(kNext);
    EXPECT_EQ(u.WaitExit(), 0u);
    return lines;
  }

  int m_progressPosition = -1, m_progressUpper = -1;
};

}  // namespace

TEST_F(Integration, DrivenSampleMakesEightLinksAndItsRecordsAndTheUninstallerTakesThemAway) {
  const fs::path dest = work / "app";
  const auto statuses = e2e::RunDriven(e2e::BinDir() / "sample_package.exe", {L"-en", dest.wstring()});
  const std::vector<uint32_t> codes = e2e::Codes(statuses);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x50004u), 8);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x50006u), 1);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x50105u), 0);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x50102u), 0);

  // Program group (the uninstall link last), Start menu, desktop, Quick Launch.
  const fs::path group = SpecialFolder(CSIDL_COMMON_PROGRAMS) / L"视频会议软件";
  const std::vector<fs::path> expected = {
      group / L"视频会议软件.lnk", group / L"白板编辑器.lnk", group / L"视频播放器.lnk", group / L"投票编辑器.lnk",
      group / L"卸载  视频会议软件.lnk", SpecialFolder(CSIDL_COMMON_STARTMENU) / L"视频会议软件.lnk",
      SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) / L"视频会议软件.lnk",
      SpecialFolder(CSIDL_APPDATA) / L"Microsoft\\Internet Explorer\\Quick Launch\\视频会议软件.lnk"};
  const std::vector<fs::path> links = e2e::CreatedLinks(statuses);
  ASSERT_EQ(links, expected);
  const std::vector<std::wstring> targets = {L"ZepClient.exe", L"Qrdraw.exe",    L"qrplayer.exe",
                                             L"qrvoteedit.exe", L"uninstall.exe", L"ZepClient.exe",
                                             L"ZepClient.exe", L"ZepClient.exe"};
  for (size_t i = 0; i < links.size(); ++i) {
    Link link;
    ASSERT_TRUE(ReadLink(links[i], link)) << links[i].string();
    EXPECT_EQ(link.target, (dest / targets[i]).wstring());
    EXPECT_EQ(link.workingDirectory, dest.wstring());
  }

  // The product key and the uninstall entry, every value REG_SZ.
  bool found = false;
  Values product = ReadKey(L"Software\\Video Conference", found);
  ASSERT_TRUE(found);
  // The shared components this product counted, the printer's count last.
  EXPECT_NE(product[L"SharedFiles"].find(L"\\qrgrabber.ax"), std::wstring::npos);
  EXPECT_TRUE(product[L"SharedFiles"].ends_with(L"\\vprinter.dll")) << product[L"SharedFiles"];
  product.erase(L"SharedFiles");
  EXPECT_EQ(product, (Values{{L"InstallPath", dest.wstring()},
                             {L"Exe", (dest / L"ZepClient.exe").wstring()},
                             {L"Version", L"v4.0.2026"},
                             {L"GUID", L"{5A1C7E42-93B0-4D6F-A8E1-2C4B6D8F0A13}"}}));
  const Values entry = ReadKey(std::wstring(kUninstallKey) + L"视频会议软件", found);
  ASSERT_TRUE(found);
  EXPECT_EQ(entry, (Values{{L"DisplayName", L"视频会议软件 v4.0.2026"},
                           {L"UninstallString", L"\"" + (dest / L"uninstall.exe").wstring() + L"\""},
                           {L"DisplayIcon", (dest / L"ZepClient.exe").wstring()},
                           {L"Publisher", L""},
                           {L"URLInfoAbout", L""},
                           {L"DisplayVersion", L"4.0.2026"},
                           {L"Contact", L""},
                           {L"HelpLink", L""},
                           {L"HelpTelephone", L""},
                           {L"Readme", L"file://" + dest.wstring() + L"\\"},
                           {L"URLUpdateInfo", L""},
                           {L"ProductID", L"{5A1C7E42-93B0-4D6F-A8E1-2C4B6D8F0A13}"},
                           {L"Comments", L"欢迎使用视频会议软件"}}));

  // Complete removal: no link, no group folder, no key; "Clean registry".
  const std::vector<std::wstring> lines = Uninstall(dest, true);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Text(403, kChinese)), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Text(405, kChinese)), 0);
  EXPECT_EQ(LinesStartingWith(lines, 399, kChinese), 0u);
  for (const auto& link : links) EXPECT_FALSE(fs::exists(link)) << link.string();
  EXPECT_FALSE(fs::exists(group));
  EXPECT_FALSE(KeyExists(L"Software\\Video Conference"));
  EXPECT_FALSE(KeyExists(std::wstring(kUninstallKey) + L"视频会议软件"));
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
  EXPECT_FALSE(fs::exists(dest));
}

TEST_F(Integration, WizardRunValuesAndPartialUninstallLeaveAnotherProgramsValue) {
  const fs::path package = Build({{"DefaultLanguage", 3}, {"NoAutostart", 0}},
                                 {{"\"AutostartPrograms\": *\\[\\]",
                                   "\"AutostartPrograms\": [\"ZepClient.exe\", \"Qrdraw.exe\"]"}});
  const fs::path dest = work / "app";
  const std::vector<std::wstring> lines = WizardInstall(package, dest);
  // Eight links, 10 steps each; with the uninstaller the bar is at the top
  // of its range (file count + 100) before the groups run.
  EXPECT_EQ(LinesStartingWith(lines, 393, kEnglish), 8u);
  EXPECT_EQ(LinesStartingWith(lines, 367, kEnglish), 0u);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Text(385, kEnglish)), 1);
  const auto files = std::count_if(fs::recursive_directory_iterator(kProbeFiles), fs::recursive_directory_iterator(),
                                   [](const fs::directory_entry& e) { return e.is_regular_file(); });
  EXPECT_EQ(m_progressUpper, files + 100);
  EXPECT_EQ(m_progressPosition, files + 100);
  std::wstring data;
  // Quoted, so that a folder name with a space cannot cut the command short.
  ASSERT_TRUE(RunValue(L"ZepClient", data));
  EXPECT_EQ(data, L"\"" + (dest / L"ZepClient.exe").wstring() + L"\"");
  ASSERT_TRUE(RunValue(L"Qrdraw", data));
  EXPECT_EQ(data, L"\"" + (dest / L"Qrdraw.exe").wstring() + L"\"");
  // As an install before quoting wrote it: still this install's value.
  const std::wstring unquoted = (dest / L"ZepClient.exe").wstring();
  SetRunValue(L"ZepClient", &unquoted);
  const fs::path group = SpecialFolder(CSIDL_COMMON_PROGRAMS) / L"Video Conference";
  EXPECT_TRUE(fs::exists(group / L"Whiteboard Editor.lnk"));
  EXPECT_TRUE(fs::exists(group / L"Uninstall  Video Conference.lnk"));

  // Another program takes over the name "Qrdraw" before the uninstall.
  const std::wstring other = L"C:\\Other\\Qrdraw.exe";
  SetRunValue(L"Qrdraw", &other);
  const std::vector<std::wstring> removal = Uninstall(dest, false);
  EXPECT_EQ(std::count(removal.begin(), removal.end(), Text(403, kEnglish)), 1);
  EXPECT_EQ(std::count(removal.begin(), removal.end(), Text(405, kEnglish)), 0);
  EXPECT_FALSE(RunValue(L"ZepClient", data));
  ASSERT_TRUE(RunValue(L"Qrdraw", data));
  EXPECT_EQ(data, other);
  SetRunValue(L"Qrdraw", nullptr);
  EXPECT_FALSE(fs::exists(group));
  EXPECT_FALSE(fs::exists(SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) / L"Video Conference.lnk"));
  EXPECT_FALSE(KeyExists(L"Software\\Video Conference"));
  EXPECT_FALSE(KeyExists(std::wstring(kUninstallKey) + L"Video Conference"));
}

TEST_F(Integration, AnExistingFolderChosenAsGroupKeepsAnotherProgramsLink) {
  const fs::path package = Build({{"DefaultLanguage", 3}});
  std::vector<fs::path> others;
  for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    const fs::path other = SpecialFolder(csidl) / L"Startup" / L"Other Program.lnk";
    testing_support::WriteAll(other, {'l', 'n', 'k'});
    others.push_back(other);
  }
  const fs::path startup = SpecialFolder(CSIDL_COMMON_PROGRAMS) / L"Startup";
  const fs::path dest = work / "app";
  WizardInstall(package, dest, L"Startup");
  EXPECT_TRUE(fs::exists(startup / L"Video Conference.lnk"));
  // Installed again: the old links go first, the other program's stays.
  const std::vector<std::wstring> lines = WizardInstall(package, dest, L"Startup");
  EXPECT_EQ(LinesStartingWith(lines, 401, kEnglish), 5u);  // this package's five links
  EXPECT_EQ(LinesStartingWith(lines, 397, kEnglish), 0u);  // the folder is not empty
  for (const auto& other : others) EXPECT_TRUE(fs::exists(other)) << other.string();

  Uninstall(dest, true);
  for (const auto& other : others) EXPECT_TRUE(fs::exists(other)) << other.string();
  EXPECT_TRUE(fs::exists(startup));
  EXPECT_FALSE(fs::exists(startup / L"Video Conference.lnk"));
  EXPECT_FALSE(fs::exists(startup / L"Uninstall  Video Conference.lnk"));
  for (const auto& other : others) fs::remove(other);
}

TEST_F(Integration, SecondInstallOffersTheFirstFolderAndALowerVersionAsks) {
  const fs::path first = work / "first";
  e2e::RunDriven(e2e::BinDir() / "sample_package.exe", {L"-en", first.wstring()});
  ASSERT_TRUE(KeyExists(L"Software\\Video Conference"));

  // Same version: no prompt, the recorded folder on the destination page.
  {
    WizardDriver d;
    ASSERT_TRUE(d.Start(Build({{"DefaultLanguage", 3}})));
    ASSERT_TRUE(d.WaitFrame());
    ASSERT_TRUE(d.WaitPage(2));
    d.Click(kNext);
    ASSERT_TRUE(d.WaitPage(4));
    EXPECT_EQ(d.Text(kFolder), first.wstring());
    d.Kill();
  }
  // A lower version than the installed one: prompt 0x40002, then the same folder.
  {
    WizardDriver d;
    ASSERT_TRUE(d.Start(Build({{"DefaultLanguage", 3}}, {{"\"VersionLabel\": *\"[^\"]*\"", "\"VersionLabel\": \"v3.9.2026\""}})));
    HWND box = d.WaitMessageBox(20000);
    ASSERT_TRUE(box);
    EXPECT_EQ(WizardDriver::MessageText(box), Text(435, kEnglish));
    WizardDriver::Answer(box, IDOK);
    ASSERT_TRUE(d.WaitFrame());
    ASSERT_TRUE(d.WaitPage(2));
    d.Click(kNext);
    ASSERT_TRUE(d.WaitPage(4));
    EXPECT_EQ(d.Text(kFolder), first.wstring());
    d.Kill();
  }
  Uninstall(first, true);
  EXPECT_FALSE(KeyExists(L"Software\\Video Conference"));
}

TEST_F(Integration, JapaneseInstallUsesJapaneseCaptionsAndTexts) {
  const fs::path dest = work / "app";
  const auto statuses = e2e::RunDriven(Build({{"DefaultLanguage", 4}}), {L"-en", dest.wstring()});
  const std::vector<fs::path> links = e2e::CreatedLinks(statuses);
  ASSERT_EQ(links.size(), 8u);
  const fs::path group = SpecialFolder(CSIDL_COMMON_PROGRAMS) / L"ビデオ会議ソフト";
  EXPECT_EQ(links[1], group / L"ホワイトボード エディター.lnk");
  EXPECT_EQ(links[4], group / L"アンインストール ビデオ会議ソフト.lnk");
  EXPECT_EQ(links[7].filename(), L"ビデオ会議ソフト.lnk");
  for (const auto& link : links) EXPECT_TRUE(fs::exists(link)) << link.string();
  bool found = false;
  const Values entry = ReadKey(std::wstring(kUninstallKey) + L"ビデオ会議ソフト", found);
  ASSERT_TRUE(found);
  EXPECT_EQ(entry.at(L"Comments"), L"使用 ビデオ会議ソフト");
  EXPECT_EQ(entry.at(L"DisplayName"), L"ビデオ会議ソフト v4.0.2026");

  const std::vector<std::wstring> lines = Uninstall(dest, false);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Text(403, kJapanese)), 1);
  for (const auto& link : links) EXPECT_FALSE(fs::exists(link)) << link.string();
  EXPECT_FALSE(KeyExists(std::wstring(kUninstallKey) + L"ビデオ会議ソフト"));
  EXPECT_FALSE(KeyExists(L"Software\\Video Conference"));
}
