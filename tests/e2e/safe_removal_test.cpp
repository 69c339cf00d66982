// The uninstaller and the driven install kept to the product's own files,
// run as users start them: uninstall.exe from the install folder (its own
// relaunch from a temporary copy), driven installs into unsafe destinations.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cwctype>
#include <filesystem>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/utf16.h"
#include "setup/startup/relaunch_rules.h"
#include "tests/e2e/sample_variant.h"
#include "tests/support/file_io.h"
#include "tools/wizard_driver/wizard_driver.h"

namespace fs = std::filesystem;
using testing_support::ReadAll;
using testing_support::WriteAll;
using wizard_driver::WizardDriver;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int kNext = 1003, kPartly = 1045, kAll = 1046;

// Runs `program` with `arguments` to its end; its exit code. `output` gets
// what it printed.
DWORD RunProgram(const fs::path& program, const std::wstring& arguments, std::string* output = nullptr) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const fs::path log = fs::path(temp) / "safe-removal-output.txt";
  HANDLE out = CreateFileW(log.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  PROCESS_INFORMATION pi = {};
  std::wstring line = L"\"" + program.wstring() + L"\" " + arguments;
  if (!CreateProcessW(program.wstring().c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(out);
    return DWORD(-1);
  }
  WaitForSingleObject(pi.hProcess, 180000);
  DWORD code = DWORD(-1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(out);
  if (output) {
    const Bytes b = ReadAll(log);
    output->assign(b.begin(), b.end());
  }
  return code;
}

std::wstring Quoted(const fs::path& p) { return vx::ToWide(vx::QuoteArgument(vx::FromWide(p.wstring()))); }

// Driven install of the sample through setup_controller; what it printed.
std::string Install(const fs::path& dest) {
  std::string printed;
  RunProgram(e2e::BinDir() / "setup_controller.exe", Quoted(e2e::BinDir() / "sample_package.exe") + L" -en " + Quoted(dest),
      &printed);
  return printed;
}

// A symbolic link made from the host side (Z: is the host's root).
bool HostSymlink(const fs::path& target, const fs::path& link) {
  char unixTarget[1024] = {}, unixLink[1024] = {};
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) {
    ADD_FAILURE() << "no wine_get_unix_file_name";
    return false;
  }
  char* t = toUnix(target.wstring().c_str());
  char* l = toUnix(link.wstring().c_str());
  if (!t || !l) return false;
  snprintf(unixTarget, sizeof unixTarget, "%s", t);
  snprintf(unixLink, sizeof unixLink, "%s", l);
  HeapFree(GetProcessHeap(), 0, t);
  HeapFree(GetProcessHeap(), 0, l);
  std::wstring line = L"/bin/ln -s \"" + vx::ToWide(vx::Utf8ToUtf16(unixTarget)) + L"\" \"" +
                     vx::ToWide(vx::Utf8ToUtf16(unixLink)) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(L"Z:\\bin\\ln", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start ln: " << GetLastError();
    return false;
  }
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // The host process may still be running when its handle signals.
  const bool made = wizard_driver::WaitFor(
      [&] { return GetFileAttributesW(link.wstring().c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000);
  EXPECT_TRUE(made) << vx::Utf16ToUtf8(vx::FromWide(line));
  return made;
}

class SafeRemoval : public ::testing::Test {
 protected:
  fs::path work;
  std::wstring oldTmp, oldTemp;
  void SetUp() override {
    work = fs::path(L"C:\\e2e-safe") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work);
    fs::create_directories(work);
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", value, MAX_PATH);
    oldTmp = value;
    GetEnvironmentVariableW(L"TEMP", value, MAX_PATH);
    oldTemp = value;
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TMP", oldTmp.c_str());
    SetEnvironmentVariableW(L"TEMP", oldTemp.c_str());
  }
  // Programs started from now on take `folder` as their temporary folder.
  void UseTemporaryFolder(const fs::path& folder) {
    fs::create_directories(folder);
    SetEnvironmentVariableW(L"TMP", folder.wstring().c_str());
    SetEnvironmentVariableW(L"TEMP", folder.wstring().c_str());
  }

  // Starts dest\uninstall.exe as a user does, follows its relaunch and runs
  // the removal with `button` (partly or all, confirmed).
  void Uninstall(const fs::path& dest, int button) {
    WizardDriver first;
    ASSERT_TRUE(first.Start(dest / "uninstall.exe"));
    ASSERT_TRUE(first.FollowChild()) << "no relaunched copy";
    ASSERT_TRUE(first.WaitFrame()) << "no wizard from the copy; " << first.Explain();
    ASSERT_TRUE(first.WaitPage(8));
    EXPECT_EQ(first.Text(1044), dest.wstring());
    first.Click(button);
    Sleep(300);
    first.Click(kNext);
    if (button == kAll) {
      HWND box = first.WaitMessageBox();
      ASSERT_TRUE(box);
      WizardDriver::Answer(box, IDYES);
    }
    ASSERT_TRUE(first.WaitPage(11, 60000));
    first.Click(kNext);
    EXPECT_EQ(first.WaitExit(), 0u);
  }
};

}  // namespace

TEST_F(SafeRemoval, RelaunchedUninstallerRemovesPartlyFromSpacedCjkFolders) {
  UseTemporaryFolder(work / L"temp folder 临时 テンポ");
  const fs::path dest = work / L"Program 视频 会議";
  ASSERT_NE(Install(dest).find("0x00000"), std::string::npos);
  WriteAll(dest / "mine" / "keep.txt", {'k'});
  fs::create_directories(dest / "empty of mine");
  fs::permissions(dest / "ZepClient.exe", fs::perms::owner_write, fs::perm_options::remove);  // read-only

  // Started through the folder's name in other letter case, opened and
  // cancelled, the uninstaller names the folder as installed and changes nothing.
  {
    std::wstring otherCase = (dest / "uninstall.exe").wstring();
    for (auto& c : otherCase) c = iswupper(c) ? towlower(c) : towupper(c);
    WizardDriver cancelled;
    ASSERT_TRUE(cancelled.Start(otherCase));
    ASSERT_TRUE(cancelled.FollowChild());
    ASSERT_TRUE(cancelled.WaitFrame()) << cancelled.Explain();
    ASSERT_TRUE(cancelled.WaitPage(8));
    EXPECT_EQ(cancelled.Text(1044), dest.wstring());
    cancelled.Click(1004);
    if (HWND box = cancelled.WaitMessageBox(3000)) WizardDriver::Answer(box, IDYES);  // when it asks
    EXPECT_EQ(cancelled.WaitExit(), 0u);
    EXPECT_TRUE(GetFileAttributesW((dest / "ZepClient.exe").wstring().c_str()) & FILE_ATTRIBUTE_READONLY);
  }

  Uninstall(dest, kPartly);
  EXPECT_FALSE(fs::exists(dest / "ZepClient.exe"));
  EXPECT_FALSE(fs::exists(dest / "uninstall.exe"));
  EXPECT_FALSE(fs::exists(dest / "VMSkin"));  // the install made it
  EXPECT_TRUE(fs::exists(dest / "mine" / "keep.txt"));
  EXPECT_TRUE(fs::exists(dest / "empty of mine"));  // the user's, though empty

  // The copy asked for its own deletion at the next restart.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                          &key),
            ERROR_SUCCESS);
  std::vector<wchar_t> value(65536);
  DWORD bytes = DWORD(value.size() * sizeof(wchar_t)), type = 0;
  const LONG r = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                                  reinterpret_cast<BYTE*>(value.data()), &bytes);
  RegCloseKey(key);
  ASSERT_EQ(r, ERROR_SUCCESS);
  const std::wstring pending(value.data(), bytes / sizeof(wchar_t));
  EXPECT_NE(pending.find((work / L"temp folder 临时 テンポ").wstring() + L"\\zz~"), std::wstring::npos);
}

TEST_F(SafeRemoval, CompleteRemovalLeavesWhatWasThereAndNeverFollowsLinks) {
  UseTemporaryFolder(work / L"temp 空白");
  const fs::path outside = work / "outside";
  WriteAll(outside / "precious.txt", {'p'});
  WriteAll(outside / "deeper" / "more.txt", {'m'});

  // Into a folder that held the user's files, another program and a link.
  const fs::path shared = work / L"shared 共享";
  WriteAll(shared / "user notes.txt", {'u'});
  WriteAll(shared / "OtherVendor" / "other.exe", {'o'});
  ASSERT_TRUE(HostSymlink(outside, shared / "link out"));
  ASSERT_NE(Install(shared).find("0x00000"), std::string::npos);
  ASSERT_TRUE(HostSymlink(outside / "precious.txt", shared / "VMSkin" / "file link"));
  Uninstall(shared, kAll);
  EXPECT_FALSE(fs::exists(shared / "ZepClient.exe"));
  EXPECT_FALSE(fs::exists(shared / "VMSkin" / "login.bmp"));
  EXPECT_FALSE(fs::exists(shared / "uninstall.exe"));
  EXPECT_EQ(ReadAll(outside / "precious.txt"), Bytes{'p'});
  EXPECT_TRUE(fs::exists(shared / "user notes.txt"));
  EXPECT_TRUE(fs::exists(shared / "OtherVendor" / "other.exe"));
  EXPECT_NE(GetFileAttributesW((shared / "link out").wstring().c_str()), INVALID_FILE_ATTRIBUTES);

  // Into a folder of its own, with links made later: everything else goes;
  // the links go themselves where the system can remove a link without its
  // target (not under Wine, which deletes the target), and are never followed.
  const fs::path own = work / L"own 自分";
  ASSERT_NE(Install(own).find("0x00000"), std::string::npos);
  ASSERT_TRUE(HostSymlink(outside, own / "link out"));
  ASSERT_TRUE(HostSymlink(outside / "precious.txt", own / "file link"));
  fs::permissions(outside / "precious.txt", fs::perms::owner_write, fs::perm_options::remove);
  Uninstall(own, kAll);
  EXPECT_FALSE(fs::exists(own / "ZepClient.exe"));
  EXPECT_FALSE(fs::exists(own / "VMSkin"));
  EXPECT_FALSE(fs::exists(own / "uninstall.exe"));
  EXPECT_EQ(ReadAll(outside / "precious.txt"), Bytes{'p'});
  EXPECT_EQ(ReadAll(outside / "deeper" / "more.txt"), Bytes{'m'});
  // The target kept its read-only flag: nothing cleared it through the link.
  EXPECT_TRUE(GetFileAttributesW((outside / "precious.txt").wstring().c_str()) & FILE_ATTRIBUTE_READONLY);
  fs::permissions(outside / "precious.txt", fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(SafeRemoval, DrivenInstallRefusesUnsafeDestinations) {
  const std::wstring longPath = L"C:\\" + std::wstring(299, L'x');
  for (const std::wstring& dest : {std::wstring(L"C:"), std::wstring(L"C:\\"), std::wstring(L"C:\\windows"),
                                   std::wstring(L"C:\\x\\..\\..\\windows\\system32\\drivers"),
                                   std::wstring(L"relative"), longPath}) {
    std::string printed;
    RunProgram(e2e::BinDir() / "setup_controller.exe",
        Quoted(e2e::BinDir() / "sample_package.exe") + L" -en " + Quoted(dest), &printed);
    const std::string expected = "0x50102 " + vx::Utf16ToUtf8(u"无法创建：" + vx::FromWide(dest)) + "\n";
    EXPECT_NE(printed.find(expected), std::string::npos) << printed;
    EXPECT_EQ(printed.find("0x50003"), std::string::npos) << printed;
  }
  EXPECT_FALSE(fs::exists(L"C:\\windows\\ZepClient.exe"));
  EXPECT_FALSE(fs::exists(L"C:\\windows\\system32\\drivers\\ZepClient.exe"));
  EXPECT_FALSE(fs::exists(e2e::BinDir() / "relative"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "relative"));
}

TEST(RelaunchCommandLine, SplitsIntoExactlyProgramAndFolder) {
  for (const auto& [program, folder] : std::vector<std::pair<std::u16string, std::u16string>>{
           {u"C:\\Documents and Settings\\A User\\Local Settings\\Temp\\zz~1A.tmp", u"C:\\Program Files\\Video Conference"},
           {u"C:\\temp 临时\\zz~2.tmp", u"C:\\視訊 會議"},
           {u"C:\\t\\zz~3.tmp", u"C:"},
           {u"C:\\t\\zz~3.tmp", u"C:\\"},
           {u"C:\\t\\zz~3.tmp", u"D:\\tail\\\\"}}) {
    const std::wstring line = vx::ToWide(setup::RelaunchCommandLine(program, folder));
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_TRUE(argv);
    ASSERT_EQ(count, 2) << vx::Utf16ToUtf8(vx::FromWide(line));
    EXPECT_EQ(vx::FromWide(argv[0]), program);
    EXPECT_EQ(vx::FromWide(argv[1]), folder);
    LocalFree(argv);
  }
}

TEST_F(SafeRemoval, UpdatePackageRemovesTheOldVersionAndInstallsIntoItsFolder) {
  constexpr int kFolder = 1024;
  const fs::path probe = VC_PROBE_FILES;
  fs::create_directories(work / "old");
  const fs::path oldPackage = e2e::BuildSampleVariant(work / "old", probe, {{"DefaultLanguage", 3}});
  // The new version: one file changed, one added.
  const fs::path newFiles = work / "new files";
  fs::copy(probe, newFiles, fs::copy_options::recursive);
  WriteAll(newFiles / "readme.txt", {'n', 'e', 'w'});
  WriteAll(newFiles / "added" / "new.txt", {'+'});
  fs::create_directories(work / "new");
  const fs::path update = e2e::BuildSampleVariant(work / "new", newFiles, {{"DefaultLanguage", 3}}, true, {}, true);

  const fs::path dest = work / L"app 更新";
  std::string printed;
  RunProgram(e2e::BinDir() / "setup_controller.exe", Quoted(oldPackage) + L" -en " + Quoted(dest), &printed);
  ASSERT_NE(printed.find("0x00000"), std::string::npos) << printed;
  WriteAll(dest / "ZepClient.exe.old", {'x'});  // not the product's
  fs::copy_file(update, dest / "update.exe");

  // Started in the install folder it hands over to a temporary copy, which
  // runs the old uninstaller and waits for it.
  WizardDriver updater;
  ASSERT_TRUE(updater.Start(dest / "update.exe"));
  ASSERT_TRUE(updater.FollowChild()) << "no relaunched update copy";
  {
    WizardDriver previous;
    ASSERT_TRUE(previous.FollowChildOf(updater.ProcessId())) << "the old uninstaller did not start";
    ASSERT_TRUE(previous.WaitFrame());
    ASSERT_TRUE(previous.WaitPage(8));
    EXPECT_EQ(previous.Text(1044), dest.wstring());
    previous.Click(kPartly);
    Sleep(300);
    previous.Click(kNext);
    ASSERT_TRUE(previous.WaitPage(11, 60000));
    EXPECT_TRUE(updater.Running());  // still waiting for it
    EXPECT_FALSE(updater.WaitFrame(100));
    previous.Click(kNext);
    EXPECT_EQ(previous.WaitExit(), 0u);
  }
  EXPECT_FALSE(fs::exists(dest / "readme.txt"));  // the old version is gone

  // Then the wizard, its destination locked to the old folder.
  ASSERT_TRUE(updater.WaitFrame());
  ASSERT_TRUE(updater.WaitPage(2));
  for (int i = 0; i < 6 && updater.CurrentPage() != 7; ++i) {
    const int before = updater.CurrentPage();
    if (before == 4) {
      EXPECT_EQ(updater.Text(kFolder), dest.wstring());
      EXPECT_FALSE(updater.Enabled(kFolder));
    }
    updater.Click(kNext);
    wizard_driver::WaitFor([&] { return updater.CurrentPage() != before; }, 5000);
  }
  ASSERT_EQ(updater.CurrentPage(), 7);
  updater.Click(kNext);
  ASSERT_TRUE(updater.WaitPage(11, 60000));
  updater.Click(kNext);
  EXPECT_EQ(updater.WaitExit(), 0u);
  EXPECT_EQ(ReadAll(dest / "readme.txt"), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(ReadAll(dest / "added" / "new.txt"), Bytes{'+'});
  EXPECT_EQ(ReadAll(dest / "ZepClient.exe"), ReadAll(probe / "ZepClient.exe"));
  ASSERT_TRUE(fs::exists(dest / "uninstall.exe"));

  // A later uninstall removes the new version; what is not its own stays.
  Uninstall(dest, kPartly);
  EXPECT_FALSE(fs::exists(dest / "readme.txt"));
  EXPECT_FALSE(fs::exists(dest / "added"));
  EXPECT_FALSE(fs::exists(dest / "uninstall.exe"));
  EXPECT_TRUE(fs::exists(dest / "update.exe"));
  EXPECT_TRUE(fs::exists(dest / "ZepClient.exe.old"));
}
