#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "setup/wizard/product_record.h"
#include "tools/wizard_driver/wizard_driver.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L'\\') + 1);
}

// Starts a program and waits for it; returns its exit code, or -2 when it
// cannot be started.
long RunAndWait(const std::wstring& program, const std::wstring& arguments,
                const wchar_t* workingFolder = nullptr) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder, &si, &pi))
    return -2;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<long>(code);
}

}  // namespace

TEST(Startup, NoPackageAttachedExitsMinusOne) {
  const std::wstring setup = ProgramFolder() + L"setup.exe";
  ASSERT_NE(GetFileAttributesW(setup.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(RunAndWait(setup, L""), -1);
  EXPECT_EQ(RunAndWait(setup, L"-d 0 123"), -1);
}

namespace {

const wchar_t kLayers[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

std::wstring LayerValue(const std::wstring& program) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLayers, 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
  wchar_t value[64] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  const LONG r = RegQueryValueExW(key, program.c_str(), nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? std::wstring(value) : L"<none>";
}

// Every name under a folder with its size and write time; "<absent>" when
// the folder does not exist. Equal snapshots: nothing was written or removed.
std::wstring Snapshot(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return L"<absent>";
  std::wstring s;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    s += name + L"|" + std::to_wstring(found.nFileSizeLow) + L"|" +
         std::to_wstring(found.ftLastWriteTime.dwLowDateTime) + L"\n";
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) s += Snapshot(folder + L"\\" + name);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return s;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return full;
}

}  // namespace

TEST(Startup, PackagedRolesStopCleanlyAndRegisterTheLayer) {
  const std::wstring package = FullPath(ProgramFolder() + L"sample_package.exe");
  ASSERT_NE(GetFileAttributesW(package.c_str()), INVALID_FILE_ATTRIBUTES);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLayers, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegDeleteValueW(key, package.c_str());
  RegCloseKey(key);

  // What a role that starts an install or a removal would touch: the sample's
  // default destination and its uninstall entry.
  wchar_t programFiles[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
  const std::wstring destination = std::wstring(programFiles) + L"\\Video Conference";
  const std::wstring entry = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Video Conference";
  const std::wstring destinationBefore = Snapshot(destination);
  const bool entryBefore = KeyExists(HKEY_LOCAL_MACHINE, entry);

  // Driven start with window item 0 returns at once (it ends by itself, so
  // no window waits for input) and installs nothing; exit code 0.
  EXPECT_EQ(RunAndWait(package, L"-d 0 0"), 0);
  EXPECT_EQ(LayerValue(package), L"VISTARTM");
  EXPECT_EQ(Snapshot(destination), destinationBefore);
  EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, entry), entryBefore);

  // "-D" is an uninstall folder: the package carries no uninstall record, so
  // the run stops there and removes nothing, not even from a folder of that
  // name in its working directory.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring work = std::wstring(temp) + L"startup_role_test";
  const std::wstring decoy = work + L"\\-D";
  CreateDirectoryW(work.c_str(), nullptr);
  CreateDirectoryW(decoy.c_str(), nullptr);
  const std::wstring decoyFile = decoy + L"\\uninstall.exe";
  HANDLE f = CreateFileW(decoyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(f, "keep", 4, &written, nullptr);
  CloseHandle(f);
  const std::wstring decoyBefore = Snapshot(decoy);
  EXPECT_EQ(RunAndWait(package, L"-D", work.c_str()), 0);
  EXPECT_EQ(Snapshot(decoy), decoyBefore);
  EXPECT_NE(decoyBefore.find(L"uninstall.exe|4|"), std::wstring::npos);
  EXPECT_EQ(Snapshot(destination), destinationBefore);
  EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, entry), entryBefore);
  DeleteFileW(decoyFile.c_str());
  RemoveDirectoryW(decoy.c_str());
  RemoveDirectoryW(work.c_str());

  // Without arguments the wizard opens; Cancel, confirmed, ends it with 0.
  wizard_driver::WizardDriver wizard;
  ASSERT_TRUE(wizard.Start(package));
  ASSERT_TRUE(wizard.WaitFrame());
  wizard.Click(1004);
  HWND box = wizard.WaitMessageBox();
  ASSERT_TRUE(box);
  wizard_driver::WizardDriver::Answer(box, IDYES);
  EXPECT_EQ(wizard.WaitExit(), 0u);

  // Without a package nothing is written before the exit.
  const std::wstring bare = FullPath(ProgramFolder() + L"setup.exe");
  EXPECT_EQ(RunAndWait(bare, L""), -1);
  EXPECT_EQ(LayerValue(bare), L"<none>");
}

TEST(ProductRecord, ReadsAllThreeValuesOrNothing) {
  const wchar_t* path = L"Software\\Record Test Product";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  auto set = [&](const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  };
  set(L"InstallPath", L"C:\\Program Files\\Record");
  set(L"Version", L"v3.0.2012");
  setup::ProductRecord r;
  r.guid = u"untouched";
  EXPECT_FALSE(setup::ReadProductRecord(u"Record Test Product", r));  // GUID missing
  EXPECT_EQ(r.guid, u"untouched");
  set(L"GUID", L"{3C0B5D2E-8A41-4F7C-B6D3-1E9A2F4C7B80}");
  ASSERT_TRUE(setup::ReadProductRecord(u"Record Test Product", r));
  EXPECT_EQ(r.installPath, u"C:\\Program Files\\Record");
  EXPECT_EQ(r.version, u"v3.0.2012");
  EXPECT_EQ(r.guid, u"{3C0B5D2E-8A41-4F7C-B6D3-1E9A2F4C7B80}");
  set(L"Version", std::wstring(41, L'9'));  // over its limit
  EXPECT_FALSE(setup::ReadProductRecord(u"Record Test Product", r));
  EXPECT_FALSE(setup::ReadProductRecord(u"No Such Product", r));
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
}
