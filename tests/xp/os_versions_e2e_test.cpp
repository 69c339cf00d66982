// The system check under each Windows version Wine can report. Wine takes the
// version per program from HKCU\Software\Wine\AppDefaults\<name>.exe, value
// "Version"; each case copies the version probe and the sample package under
// one such name, reads what GetVersionExW gave the probe and runs a driven
// install of the package.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/bin_dir.h"
#include "base/utf16.h"
#include "tests/e2e/driven_run.h"

namespace fs = std::filesystem;

namespace {

struct Version {
  const wchar_t* setting;  // Wine's name
  unsigned long platform, major, minor;
  const char* klass;  // as the system check classifies it
};

// 8.1 and 10 report 6.2: the manifest declares no system after Windows 7.
// Beyond the versions the product names: Win32s (win31), NT 4.0, 95 and Me.
const Version kVersions[] = {
    {L"win98", 1, 4, 10, "Windows95Family"}, {L"win2k", 2, 5, 0, "NtFamily"},   {L"winxp", 2, 5, 1, "NtFamily"},
    {L"win2003", 2, 5, 2, "NtFamily"},       {L"vista", 2, 6, 0, "NtFamily"},   {L"win7", 2, 6, 1, "NtFamily"},
    {L"win8", 2, 6, 2, "NtFamily"},          {L"win81", 2, 6, 2, "NtFamily"},   {L"win10", 2, 6, 2, "NtFamily"},
    {L"win31", 0, 3, 10, "Unsupported"},     {L"nt40", 2, 4, 0, "NtFamily"},    {L"win95", 1, 4, 0, "Windows95Family"},
    {L"winme", 1, 4, 90, "Windows95Family"},
};

using testing_support::BinDir;

fs::path SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path), S_OK) << csidl;
  return path;
}

fs::path WindowsFolder() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_NE(GetWindowsDirectoryW(path, MAX_PATH), 0u);
  return path;
}

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

void SetWineVersion(const std::wstring& program, const wchar_t* version) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (kAppDefaults + program).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const DWORD bytes = DWORD((wcslen(version) + 1) * sizeof(wchar_t));
  EXPECT_EQ(RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), bytes), ERROR_SUCCESS);
  RegCloseKey(key);
}

const wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// Sets (or with nullptr deletes) the "SystemRoot" value Windows 9x keeps under
// HKLM\Software\Microsoft\Windows\CurrentVersion.
void SetSystemRoot95(const wchar_t* root) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  if (root)
    EXPECT_EQ(RegSetValueExW(key, L"SystemRoot", 0, REG_SZ, reinterpret_cast<const BYTE*>(root),
                             DWORD((wcslen(root) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  else
    RegDeleteValueW(key, L"SystemRoot");
  RegCloseKey(key);
}

// Runs `program` `argument` and waits for it.
DWORD RunProgram(const fs::path& program, const std::wstring& argument) {
  std::wstring line = L"\"" + program.wstring() + L"\" \"" + argument + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(program.wstring().c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start " << program.string();
    return ~0u;
  }
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = ~0u;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

struct Seen {
  unsigned long platform = 0, major = 0, minor = 0, build = 0;
  std::string klass, csd;
};

// Runs `probe` as `name` (under that name's version setting) and reads its report.
Seen Probe(const fs::path& probe, const fs::path& folder, const std::wstring& name) {
  Seen seen;
  fs::create_directories(folder);
  const fs::path copy = folder / name, report = folder / (name + L".txt");
  fs::copy_file(probe, copy, fs::copy_options::overwrite_existing);
  EXPECT_EQ(RunProgram(copy, report.wstring()), 0u);
  std::ifstream in(report);
  std::string rest;
  in >> seen.platform >> seen.major >> seen.minor >> seen.build;
  std::getline(in, rest);
  const size_t bar = rest.find('|');
  EXPECT_NE(bar, std::string::npos) << "no report from " << copy.string();
  if (bar == std::string::npos) return seen;
  seen.klass = rest.substr(1, bar - 1);
  seen.csd = rest.substr(bar + 1);
  return seen;
}

class OsVersions : public ::testing::Test {
 protected:
  fs::path work = L"C:\\e2e\\os_versions";
  std::vector<std::wstring> programs;  // AppDefaults keys made
  void SetUp() override {
    fs::remove_all(work);
    fs::create_directories(work / "probe");
    fs::create_directories(work / "package");
  }
  void TearDown() override {
    for (const auto& p : programs) SHDeleteKeyW(HKEY_CURRENT_USER, (kAppDefaults + p).c_str());
    // What the sample's installs recorded (each case installs it again).
    SetSystemRoot95(nullptr);
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Video Conference");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\视频会议软件");
    std::error_code ec;
    fs::remove_all(work, ec);
  }
};

}  // namespace

TEST_F(OsVersions, EachVersionWineReportsIsClassifiedAndADrivenInstallReportsItsCodes) {
  const fs::path commonPrograms = SpecialFolder(CSIDL_COMMON_PROGRAMS), userPrograms = SpecialFolder(CSIDL_PROGRAMS);
  const fs::path commonStart = SpecialFolder(CSIDL_COMMON_STARTMENU), userStart = SpecialFolder(CSIDL_STARTMENU);
  ASSERT_NE(commonPrograms, userPrograms);
  ASSERT_NE(commonStart, userStart);
  for (const Version& v : kVersions) {
    SCOPED_TRACE(vx::Utf16ToUtf8(vx::FromWide(v.setting)));
    const std::wstring name = std::wstring(L"osver_") + v.setting + L".exe";
    programs.push_back(name);
    SetWineVersion(name, v.setting);

    // What GetVersionExW returns to a program with the setup program's manifest.
    const Seen seen = Probe(BinDir() / "os_version_probe.exe", work / "probe", name);
    std::printf("%-8ls platform %lu, %lu.%lu build %lu, %s, \"%s\"\n", v.setting, seen.platform, seen.major,
                seen.minor, seen.build, seen.klass.c_str(), seen.csd.c_str());
    EXPECT_EQ(seen.platform, v.platform);
    EXPECT_EQ(seen.major, v.major);
    EXPECT_EQ(seen.minor, v.minor);
    EXPECT_EQ(seen.klass, v.klass);

    // The package itself under that version, driven. Windows 9x keeps its
    // folder as SystemRoot under ...\Windows\CurrentVersion (the 95 family's
    // system folder is SystemRoot\system); Wine's registry is NT's and lacks it.
    // A win64 prefix has no such folder: made for the case, removed after it.
    const bool family95 = v.platform == 1;
    const fs::path windows = WindowsFolder(), system95 = windows / L"system";
    std::vector<fs::path> before95;
    bool made95 = false;
    if (family95) {
      SetSystemRoot95(windows.c_str());
      made95 = fs::create_directory(system95);
      for (const auto& e : fs::directory_iterator(system95)) before95.push_back(e.path());
    }
    const fs::path package = work / "package" / name, dest = work / (std::wstring(L"app_") + v.setting);
    fs::copy_file(BinDir() / "sample_package.exe", package, fs::copy_options::overwrite_existing);
    const std::vector<e2e::Status> st = e2e::RunDriven(package, {L"-en", dest.wstring()});
    const std::vector<uint32_t> codes = e2e::Codes(st);
    std::string line;
    for (uint32_t c : codes) {
      char hex[16];
      std::snprintf(hex, sizeof hex, " %X", static_cast<unsigned>(c));
      line += hex;
    }
    std::printf("%-8ls driven install:%s\n", v.setting, line.c_str());
    if (v.platform == 0) {  // Win32s: refused with the prompt's code, nothing installed
      EXPECT_EQ(codes, (std::vector<uint32_t>{0x10000, 0x10101}));
      EXPECT_FALSE(fs::exists(dest));
      continue;
    }
    ASSERT_GE(codes.size(), 5u) << line;
    EXPECT_EQ(std::vector<uint32_t>(codes.begin(), codes.begin() + 4),
              (std::vector<uint32_t>{0x10000, 0x20000, 0x30000, 0x50001}));
    EXPECT_EQ(codes.back(), 0u) << "Completed last";
    for (uint32_t c : codes) EXPECT_NE(c & 0xFF00, 0x0100u) << "failure code " << std::hex << c;
    EXPECT_TRUE(fs::exists(dest / "uninstall.exe"));
    if (family95) {
      // The components went to the 95 family's system folder; take them away.
      EXPECT_TRUE(fs::exists(system95 / "qrgrabber.ax"));
      for (const auto& e : fs::directory_iterator(system95))
        if (std::find(before95.begin(), before95.end(), e.path()) == before95.end()) {
          std::error_code ec;
          fs::remove(e.path(), ec);
        }
      if (made95) fs::remove(system95);
      SetSystemRoot95(nullptr);
    }

    // The Windows 95 family clears AllUsers: the per-user Programs folder and
    // Start menu; the NT family the common ones.
    const bool allUsers = v.platform == 2;
    const std::vector<fs::path> links = e2e::CreatedLinks(st);
    ASSERT_EQ(links.size(), 8u);
    for (size_t i = 0; i < 5; ++i)
      EXPECT_EQ(links[i].parent_path().parent_path(), allUsers ? commonPrograms : userPrograms) << links[i].string();
    EXPECT_EQ(links[5].parent_path(), allUsers ? commonStart : userStart) << links[5].string();
    for (const fs::path& link : links) {
      std::error_code ec;
      fs::remove(link, ec);
    }
    std::error_code ec;
    fs::remove(links[0].parent_path(), ec);
  }
}

// A program whose manifest declares Windows 10 sees 10.0 there, which the
// check refuses ("check os version false!"): why the setup program's manifest
// stops at Windows 7.
TEST_F(OsVersions, AProgramDeclaringWindows10SeesTenAndIsRefused) {
  const std::wstring name = L"osver_win10_declared.exe";
  programs.push_back(name);
  SetWineVersion(name, L"win10");
  const Seen seen = Probe(BinDir() / "os_version_probe_win10.exe", work / "probe", name);
  std::printf("win10 with Windows 10 declared: platform %lu, %lu.%lu build %lu, %s\n", seen.platform, seen.major,
              seen.minor, seen.build, seen.klass.c_str());
  EXPECT_EQ(seen.platform, 2u);
  EXPECT_EQ(seen.major, 10u);
  EXPECT_EQ(seen.minor, 0u);
  EXPECT_EQ(seen.klass, "Unknown");
}
