// Shortcut and registry-record rules of an install and an uninstall, over an
// in-memory file system.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "setup/integration/registry_values.h"
#include "setup/integration/shortcut_pass.h"
#include "setup/startup/language_strings.h"
#include "setup/wizard/page_flow.h"

using namespace setup;
using Strings = std::vector<std::u16string>;

namespace {

package::ShortcutEntry Entry(std::u16string gb, std::u16string en, std::u16string jp, std::u16string target) {
  package::ShortcutEntry e;
  e.CaptionGb = gb;
  e.CaptionBig5 = gb + u"B";
  e.CaptionEn = en;
  e.CaptionJp = jp;
  e.Target = target;
  return e;
}

// A sample-like state: four program-group entries plus the uninstall node,
// one entry for each other kind, every kind chosen.
SetupState Sample(int language = kEnglish) {
  SetupState s;
  package::PackageHeader& h = s.header;
  h.ProductNameGb = u"视频";
  h.ProductNameBig5 = u"視訊";
  h.ProductNameEn = u"Video";
  h.ProductNameJp = u"ビデオ";
  h.FolderNameJp = u"ビデオ";
  h.ProgramGroupEn = u"Video";
  h.ProgramGroupGb = u"视频";
  h.ProgramGroupJp = u"ビデオ";
  h.MainExe = u"Zep.exe";
  h.VersionLabel = u"v4.0";
  h.ProductID = u"{GUID}";
  h.ProgramGroupShortcuts = {Entry(u"客户端", u"Client", u"クライアント", u"Zep.exe"),
                             Entry(u"白板", u"Draw", u"ドロー", u"Qrdraw.exe"),
                             Entry(u"播放", u"Player", u"プレーヤー", u"bin\\qrplayer.exe"),
                             Entry(u"投票", u"Vote", u"投票J", u"qrvoteedit.exe")};
  h.StartMenuShortcuts = {Entry(u"客户端", u"Client", u"クライアント", u"Zep.exe")};
  h.DesktopShortcuts = h.StartMenuShortcuts;
  h.QuickLaunchShortcuts = h.StartMenuShortcuts;
  h.DrivenProgramGroup = h.DrivenStartMenu = h.DrivenDesktop = h.DrivenQuickLaunch = 1;
  s.hasProgramGroup = s.hasStartMenu = s.hasDesktop = s.hasQuickLaunch = true;
  h.ProgramGroupShortcuts.push_back(UninstallShortcut(h));
  s.Language = language;
  SelectLanguageStrings(s, u"C:\\Program Files");
  s.InstallDir = u"C:\\App\\";
  s.ProgramsBase = u"C:\\All\\Programs\\";
  return s;
}

class FakeSystem : public ShortcutSystem {
 public:
  std::set<std::u16string> folders = {u"C:", u"C:\\All", u"C:\\All\\Programs", u"C:\\All\\Start Menu",
                                      u"C:\\Desktop", u"C:\\AppData", u"C:\\User", u"C:\\User\\Start Menu",
                                      u"C:\\User\\Start Menu\\Programs"};
  std::map<std::u16string, std::u16string> links;  // path -> target
  std::set<std::u16string> files;                  // other files
  std::set<std::u16string> unresolved;             // kinds that do not resolve, by name
  bool saveFails = false;
  std::u16string workingDirectory;

  bool SpecialFolder(ShortcutKind kind, bool allUsers, std::u16string& folder) override {
    const std::u16string name = kind == ShortcutKind::StartMenu ? u"start" : kind == ShortcutKind::Desktop ? u"desktop" : u"quick";
    if (unresolved.count(name)) return false;
    folder = kind == ShortcutKind::StartMenu ? (allUsers ? u"C:\\All\\Start Menu" : u"C:\\User\\Start Menu")
             : kind == ShortcutKind::Desktop ? u"C:\\Desktop"
                                             : u"C:\\AppData";
    return true;
  }
  bool UserProgramsFolder(std::u16string& folder) override {
    folder = u"C:\\User\\Start Menu\\Programs";
    return true;
  }
  int MakeFolders(const std::u16string& path, size_t start) override {
    int result = 2;
    for (size_t i = start; i < path.size(); ++i) {
      if (path[i] != u'\\') continue;
      const std::u16string f = path.substr(0, i);
      if (files.count(f)) return 0;
      result = folders.insert(f).second ? 1 : 2;
    }
    return result;
  }
  bool MakeLink(const std::u16string& target, const std::u16string& link, const std::u16string& wd) override {
    if (saveFails || !folders.count(ParentFolder(link))) return false;
    links[link] = target;
    workingDirectory = wd;
    return true;
  }
  bool List(const std::u16string& folder, std::vector<FolderEntry>& entries) override {
    if (!folders.count(folder)) return false;
    entries.clear();
    auto children = [&](const auto& set, bool isFolder) {
      for (const auto& item : set) {
        const std::u16string& p = Key(item);
        if (ParentFolder(p) == folder) entries.push_back({p.substr(folder.size() + 1), isFolder});
      }
    };
    children(folders, true);
    children(files, false);
    children(links, false);
    return true;
  }
  bool FileExists(const std::u16string& path) override { return files.count(path) || links.count(path); }
  bool RemoveFile(const std::u16string& path) override { return files.erase(path) + links.erase(path) > 0; }
  bool RemoveEmptyFolder(const std::u16string& path) override {
    std::vector<FolderEntry> entries;
    if (!List(path, entries) || !entries.empty()) return false;
    return folders.erase(path) > 0;
  }

 private:
  static const std::u16string& Key(const std::u16string& s) { return s; }
  template <typename P>
  static const std::u16string& Key(const P& p) {
    return p.first;
  }
};

struct Lines : ShortcutReporter {
  Strings created, failed, deleted, removedFolders;
  void Created(const std::u16string& l) override { created.push_back(l); }
  void Failed(const std::u16string& l) override { failed.push_back(l); }
  void Deleted(const std::u16string& l) override { deleted.push_back(l); }
  void FolderRemoved(const std::u16string& l) override { removedFolders.push_back(l); }
};

}  // namespace

TEST(Shortcuts, FourKindsInOrderWithCaptionsTargetsAndLists) {
  SetupState s = Sample();
  FakeSystem fs;
  Lines lines;
  MakeShortcuts(s, fs, lines, true);
  const Strings group = {u"C:\\All\\Programs\\Video\\Client.lnk", u"C:\\All\\Programs\\Video\\Draw.lnk",
                         u"C:\\All\\Programs\\Video\\Player.lnk", u"C:\\All\\Programs\\Video\\Vote.lnk",
                         u"C:\\All\\Programs\\Video\\Uninstall  Video.lnk"};
  EXPECT_EQ(s.CreatedGroupShortcuts, group);
  EXPECT_EQ(s.CreatedStartMenuShortcuts, Strings{u"C:\\All\\Start Menu\\Client.lnk"});
  EXPECT_EQ(s.CreatedDesktopShortcuts, Strings{u"C:\\Desktop\\Client.lnk"});
  // The Quick Launch folder is made first.
  EXPECT_EQ(s.CreatedQuickLaunchShortcuts,
            Strings{u"C:\\AppData\\Microsoft\\Internet Explorer\\Quick Launch\\Client.lnk"});
  EXPECT_EQ(lines.created.size(), 8u);
  EXPECT_EQ(lines.created.front(), group.front());
  EXPECT_EQ(lines.created.back(), s.CreatedQuickLaunchShortcuts.front());
  EXPECT_TRUE(lines.failed.empty());
  EXPECT_EQ(fs.links[group[2]], u"C:\\App\\bin\\qrplayer.exe");
  EXPECT_EQ(fs.links[group[4]], u"C:\\App\\uninstall.exe");
  EXPECT_EQ(fs.workingDirectory, u"C:\\App");
  EXPECT_EQ(s.ProgramGroupFolder, u"C:\\All\\Programs\\Video");
}

TEST(Shortcuts, JapaneseCaptionsInEveryKindAndPerUserStartMenu) {
  SetupState s = Sample(kJapanese);
  s.AllUsers = false;
  FakeSystem fs;
  Lines lines;
  MakeShortcuts(s, fs, lines, false);
  EXPECT_EQ(s.CreatedGroupShortcuts.front(), u"C:\\All\\Programs\\ビデオ\\クライアント.lnk");
  EXPECT_EQ(s.CreatedGroupShortcuts.back(), u"C:\\All\\Programs\\ビデオ\\アンインストール ビデオ.lnk");
  EXPECT_EQ(s.CreatedStartMenuShortcuts, Strings{u"C:\\User\\Start Menu\\クライアント.lnk"});
  EXPECT_EQ(s.CreatedQuickLaunchShortcuts.front(),
            u"C:\\AppData\\Microsoft\\Internet Explorer\\Quick Launch\\クライアント.lnk");
}

TEST(Shortcuts, ChoicesDrivenSwitchesAndUnresolvedFolders) {
  // Nothing chosen: nothing made, no group folder recorded.
  SetupState s = Sample();
  s.hasProgramGroup = s.hasStartMenu = s.hasDesktop = s.hasQuickLaunch = false;
  FakeSystem fs;
  Lines lines;
  MakeShortcuts(s, fs, lines, false);
  EXPECT_TRUE(lines.created.empty() && lines.failed.empty());
  EXPECT_TRUE(s.ProgramGroupFolder.empty());
  EXPECT_EQ(s.ProgramsBase, u"C:\\All\\Programs\\");

  // The driven switches hold only in a driven install; an unresolved folder
  // skips its kind silently.
  s = Sample();
  s.header.DrivenProgramGroup = 0;
  s.header.DrivenDesktop = 0;
  fs.unresolved = {u"quick"};
  lines = {};
  MakeShortcuts(s, fs, lines, true);
  EXPECT_TRUE(s.CreatedGroupShortcuts.empty());
  EXPECT_TRUE(s.ProgramGroupFolder.empty());  // never the Programs folder itself
  EXPECT_EQ(s.CreatedStartMenuShortcuts.size(), 1u);
  EXPECT_TRUE(s.CreatedDesktopShortcuts.empty());
  EXPECT_TRUE(s.CreatedQuickLaunchShortcuts.empty());
  EXPECT_EQ(lines.created.size(), 1u);
  MakeShortcuts(s, fs, lines, false);
  EXPECT_EQ(s.CreatedGroupShortcuts.size(), 5u);
  EXPECT_EQ(s.CreatedDesktopShortcuts.size(), 1u);
}

TEST(Shortcuts, UnsavedLinksAreReportedAndNotRecorded) {
  SetupState s = Sample();
  FakeSystem fs;
  fs.saveFails = true;
  Lines lines;
  MakeShortcuts(s, fs, lines, true);
  EXPECT_EQ(lines.failed.size(), 8u);
  EXPECT_TRUE(s.CreatedGroupShortcuts.empty() && s.CreatedStartMenuShortcuts.empty() &&
              s.CreatedDesktopShortcuts.empty() && s.CreatedQuickLaunchShortcuts.empty());

  // A group folder that cannot be made (a file is in the way) fails its entries.
  s = Sample();
  fs.saveFails = false;
  fs.files.insert(u"C:\\All\\Programs\\Video");
  lines = {};
  MakeShortcuts(s, fs, lines, true);
  EXPECT_EQ(lines.failed.size(), 5u);
  EXPECT_EQ(lines.created.size(), 3u);
}

TEST(Shortcuts, UnsafeGroupNamesAndCaptionsMakeNoLink) {
  for (const std::u16string group : {u"", u"..\\..\\Windows", u"C:\\Temp", u"\\Root", u"A\\.\\B", u"A\\..", u"A\\"}) {
    SetupState s = Sample();
    s.ProgramGroup = group;
    FakeSystem fs;
    Lines lines;
    MakeShortcuts(s, fs, lines, false);
    EXPECT_TRUE(s.CreatedGroupShortcuts.empty()) << std::string(group.begin(), group.end());
    EXPECT_TRUE(s.ProgramGroupFolder.empty());
    EXPECT_EQ(lines.failed.size(), 5u);
    EXPECT_EQ(s.CreatedStartMenuShortcuts.size(), 1u);
  }
  // Nested groups are fine.
  SetupState s = Sample();
  s.ProgramGroup = u"Quorin\\Video";
  FakeSystem fs;
  Lines lines;
  MakeShortcuts(s, fs, lines, false);
  EXPECT_EQ(s.CreatedGroupShortcuts.front(), u"C:\\All\\Programs\\Quorin\\Video\\Client.lnk");
  EXPECT_EQ(s.ProgramGroupFolder, u"C:\\All\\Programs\\Quorin\\Video");

  // Empty captions (the sample's English ones, say) and captions with a
  // path in them make no ".lnk" of their own.
  s = Sample();
  s.header.StartMenuShortcuts[0].CaptionEn = u"";
  s.header.DesktopShortcuts[0].CaptionEn = u"..\\..\\evil";
  lines = {};
  MakeShortcuts(s, fs, lines, false);
  EXPECT_EQ(lines.failed, (Strings{u"C:\\All\\Start Menu\\.lnk", u"C:\\Desktop\\..\\..\\evil.lnk"}));
  EXPECT_TRUE(s.CreatedStartMenuShortcuts.empty() && s.CreatedDesktopShortcuts.empty());
}

TEST(Shortcuts, ExistingFolderOfAnotherProgramIsNotRecordedAsTheGroup) {
  SetupState s = Sample();
  s.ProgramGroup = u"Startup";
  FakeSystem fs;
  fs.folders.insert(u"C:\\All\\Programs\\Startup");
  fs.files.insert(u"C:\\All\\Programs\\Startup\\Other.lnk");
  Lines lines;
  MakeShortcuts(s, fs, lines, false);
  EXPECT_EQ(s.CreatedGroupShortcuts.size(), 5u);
  EXPECT_TRUE(s.ProgramGroupFolder.empty());
  // A folder holding only this package's links (an earlier install) is its own.
  fs.files.erase(u"C:\\All\\Programs\\Startup\\Other.lnk");
  MakeShortcuts(s, fs, lines, false);
  EXPECT_EQ(s.ProgramGroupFolder, u"C:\\All\\Programs\\Startup");
}

TEST(Shortcuts, OldLinksCleanUpDeletesOnlyThisPackagesLinks) {
  SetupState s = Sample();
  s.ProgramGroup = u"Startup";
  FakeSystem fs;
  for (const std::u16string programs : {u"C:\\User\\Start Menu\\Programs", u"C:\\All\\Programs"}) {
    fs.folders.insert(programs + u"\\Startup");
    fs.files.insert(programs + u"\\Startup\\Other.lnk");
    fs.files.insert(programs + u"\\Startup\\客户端.lnk");  // an earlier Chinese install
    fs.files.insert(programs + u"\\Startup\\uninstall  video.LNK");
  }
  fs.folders.insert(u"C:\\All\\Programs\\Mine");
  fs.files.insert(u"C:\\All\\Programs\\Mine\\Client.lnk");
  fs.files.insert(u"C:\\User\\Start Menu\\Video.lnk");
  fs.files.insert(u"C:\\User\\Start Menu\\Other.lnk");
  Lines lines;
  RemoveOldShortcutLinks(s, fs, lines);
  EXPECT_EQ(lines.deleted.size(), 4u);
  EXPECT_TRUE(lines.removedFolders.empty());
  EXPECT_TRUE(fs.files.count(u"C:\\User\\Start Menu\\Programs\\Startup\\Other.lnk"));
  EXPECT_TRUE(fs.files.count(u"C:\\All\\Programs\\Startup\\Other.lnk"));
  EXPECT_FALSE(fs.files.count(u"C:\\All\\Programs\\Startup\\客户端.lnk"));
  EXPECT_FALSE(fs.files.count(u"C:\\User\\Start Menu\\Video.lnk"));
  EXPECT_TRUE(fs.files.count(u"C:\\User\\Start Menu\\Other.lnk"));
  EXPECT_TRUE(fs.files.count(u"C:\\All\\Programs\\Mine\\Client.lnk"));

  // A group folder left empty goes.
  s.ProgramGroup = u"Mine";
  lines = {};
  RemoveOldShortcutLinks(s, fs, lines);
  EXPECT_EQ(lines.removedFolders, Strings{u"C:\\All\\Programs\\Mine"});
  EXPECT_FALSE(fs.folders.count(u"C:\\All\\Programs\\Mine"));

  // Unsafe names touch nothing under Programs.
  for (const std::u16string group : {u"", u"..", u"Startup\\..\\.."}) {
    s.ProgramGroup = group;
    const auto before = fs.files;
    RemoveOldShortcutLinks(s, fs, lines);
    EXPECT_EQ(fs.files, before);
    EXPECT_TRUE(fs.folders.count(u"C:\\All\\Programs"));
  }
}

TEST(Shortcuts, NameRules) {
  const package::ShortcutEntry e = Entry(u"客户端", u"Client", u"クライアント", u"Zep.exe");
  EXPECT_EQ(CaptionIn(e, 1), u"Client");
  EXPECT_EQ(CaptionIn(e, 2), u"客户端");
  EXPECT_EQ(CaptionIn(e, 3), u"客户端B");
  EXPECT_EQ(CaptionIn(e, 4), u"クライアント");
  EXPECT_EQ(CaptionIn(e, 7), u"Client");
  EXPECT_TRUE(IsOwnLinkName(u"CLIENT.lnk", {e}));
  EXPECT_TRUE(IsOwnLinkName(u"客户端B.lnk", {e}));
  EXPECT_FALSE(IsOwnLinkName(u"Client", {e}));
  EXPECT_FALSE(IsOwnLinkName(u"Client.lnk.bak", {e}));
  EXPECT_FALSE(IsOwnLinkName(u".lnk", {Entry(u"", u"", u"", u"x")}));  // empty captions own nothing
  EXPECT_EQ(ParentFolder(u"C:\\a\\b.lnk"), u"C:\\a");
  EXPECT_EQ(ParentFolder(u"b.lnk"), u"");
}

TEST(RegistryRecords, ProductKeyAndUninstallEntryInOrder) {
  SetupState s = Sample(kChineseSimplified);
  s.InstallDir = u"C:\\Program Files\\App\\";
  s.header.Publisher = u"Quorin";
  s.header.ReadmeFile = u"readme.txt";
  EXPECT_EQ(ProductKeyPath(s.header.ProductNameEn), u"Software\\Video");
  EXPECT_EQ(UninstallKeyPath(s.ProductName), u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\视频");
  EXPECT_EQ(ProductKeyValues(s), (std::vector<RegistryValue>{{u"InstallPath", u"C:\\Program Files\\App"},
                                                              {u"Exe", u"C:\\Program Files\\App\\Zep.exe"},
                                                              {u"Version", u"v4.0"},
                                                              {u"GUID", u"{GUID}"}}));
  const std::vector<RegistryValue> entry = UninstallEntryValues(s, u"欢迎使用");
  const Strings names = {u"DisplayName", u"UninstallString", u"DisplayIcon",   u"Publisher", u"URLInfoAbout",
                         u"DisplayVersion", u"Contact",      u"HelpLink",      u"HelpTelephone", u"Readme",
                         u"URLUpdateInfo", u"ProductID",     u"Comments"};
  ASSERT_EQ(entry.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(entry[i].name, names[i]);
  EXPECT_EQ(entry[0].data, u"视频 v4.0");
  EXPECT_EQ(entry[1].data, u"\"C:\\Program Files\\App\\uninstall.exe\"");  // not C:\Program.exe
  EXPECT_EQ(entry[2].data, u"C:\\Program Files\\App\\Zep.exe");
  EXPECT_EQ(entry[3].data, u"Quorin");
  EXPECT_EQ(entry[4].data, u"");  // empty fields are written empty
  EXPECT_EQ(entry[9].data, u"file://C:\\Program Files\\App\\readme.txt");
  EXPECT_EQ(entry[11].data, u"{GUID}");
  EXPECT_EQ(entry[12].data, u"欢迎使用视频");
  s.ProductName = std::u16string(900, u'x');
  EXPECT_EQ(UninstallEntryValues(s, u"Welcome to ")[12].data.size(), 799u);
}

TEST(RegistryRecords, UnusableProductNamesNameNoKey) {
  EXPECT_EQ(ProductKeyPath(u""), u"");
  EXPECT_EQ(UninstallKeyPath(u""), u"");
  EXPECT_EQ(ProductKeyPath(u"Microsoft\\Windows"), u"");
  EXPECT_EQ(UninstallKeyPath(u"..\\Run"), u"");
}

TEST(RegistryRecords, RunValueNamesAndForms) {
  EXPECT_EQ(RunValueName(u"bin\\tool.second.exe"), u"tool");
  EXPECT_EQ(RunValueName(u"bin\\tool"), u"tool");
  EXPECT_EQ(RunValueName(u"ZepClient.exe"), u"ZepClient");
  EXPECT_EQ(RunValueName(u"a.b\\c"), u"c");
  EXPECT_EQ(RunValueName(u"bin\\.hidden.exe"), u"");
  EXPECT_EQ(RunValueName(std::u16string(300, u'n') + u".exe").size(), 254u);

  package::PackageHeader h;
  h.NoAutostart = 1;
  EXPECT_EQ(ChooseRunForm(h), RunForm::None);
  h.NoAutostart = 0;
  EXPECT_EQ(ChooseRunForm(h), RunForm::MainExe);
  h.AutostartPrograms = {u"a.exe"};
  EXPECT_EQ(ChooseRunForm(h), RunForm::List);
  h.ServerPackage = 1;
  h.NoAutostart = 1;
  EXPECT_EQ(ChooseRunForm(h), RunForm::MainExe);  // a server package writes MainExe only, always

  SetupState s = Sample();
  s.header.AutostartPrograms = {u"Zep.exe", u"bin\\tool.second.exe"};
  EXPECT_EQ(RunValues(s, RunForm::MainExe), (std::vector<RegistryValue>{{u"Zep", u"\"C:\\App\\Zep.exe\""}}));
  EXPECT_EQ(RunValues(s, RunForm::List), (std::vector<RegistryValue>{{u"Zep", u"\"C:\\App\\Zep.exe\""},
                                                                      {u"tool", u"\"C:\\App\\bin\\tool.second.exe\""}}));
  EXPECT_TRUE(RunValues(s, RunForm::None).empty());
  // The uninstaller's InstallDir has no trailing backslash.
  s.InstallDir = u"C:\\App";
  EXPECT_EQ(RunValuesToRemove(s), (std::vector<RegistryValue>{{u"Zep", u"C:\\App\\Zep.exe"},
                                                               {u"Zep", u"C:\\App\\Zep.exe"},
                                                               {u"tool", u"C:\\App\\bin\\tool.second.exe"}}));
  EXPECT_TRUE(IsOwnRunData(u"c:\\app\\ZEP.exe", u"C:\\App\\Zep.exe"));      // written before quoting
  EXPECT_TRUE(IsOwnRunData(u"\"C:\\App\\Zep.exe\"", u"C:\\App\\Zep.exe"));
  EXPECT_FALSE(IsOwnRunData(u"\"C:\\App\\Zep.exe", u"C:\\App\\Zep.exe"));
  EXPECT_FALSE(IsOwnRunData(u"C:\\Other\\Zep.exe", u"C:\\App\\Zep.exe"));
}

TEST(EarlierInstallation, RecordedFolderSurvivesALanguageChange) {
  SetupState s = Sample();
  PageSet pages;
  const ProductRecord record{u"D:\\First", u"v4.0", u"{GUID}"};
  ASSERT_TRUE(EnablePages(s, record, [](uint32_t) { return true; }, [](uint32_t) {}, pages));
  EXPECT_EQ(s.InstallDir, u"D:\\First");
  s.Language = kJapanese;
  SelectLanguageStrings(s, u"C:\\Program Files");
  EXPECT_EQ(s.InstallDir, u"D:\\First");
  EXPECT_EQ(s.ProductName, u"ビデオ");
  // Another product's record leaves the default.
  SetupState other = Sample();
  ASSERT_TRUE(EnablePages(other, ProductRecord{u"D:\\X", u"v4.0", u"{OTHER}"}, [](uint32_t) { return true; },
                          [](uint32_t) {}, pages));
  other.Language = kJapanese;
  SelectLanguageStrings(other, u"C:\\Program Files");
  EXPECT_EQ(other.InstallDir, u"C:\\Program Files\\ビデオ");
}
