// Associations, component registration, the document printer and the outside
// installers, under Wine with the project's stand-in components.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <winspool.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/bin_dir.h"
#include "base/utf16.h"
#include "setup/integration/associations.h"
#include "setup/integration/component_registration.h"
#include "setup/integration/encoder_installer.h"
#include "setup/integration/spooler_cleanup.h"
#include "setup/integration/system_folder.h"
#include "setup/integration/virtual_printer.h"
#include "setup/startup/setup_state.h"

namespace fs = std::filesystem;

namespace {

using testing_support::BinDir;

fs::path Standin(const char* name) { return BinDir() / "standins" / name; }

// Runs Wine's own reg.exe and returns what it printed.
std::string RegQuery(const std::wstring& arguments) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE read, write;
  CreatePipe(&read, &write, &sa, 0);
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = write;
  PROCESS_INFORMATION pi = {};
  std::wstring line = L"reg.exe query " + arguments;
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    CloseHandle(read);
    CloseHandle(write);
    return "<reg.exe did not start>";
  }
  CloseHandle(write);
  std::string out;
  char buffer[4096];
  DWORD n;
  while (ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n) out.append(buffer, n);
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(read);
  return out;
}

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
  wchar_t value[1024] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  const LONG r = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? std::wstring(value) : L"<none>";
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring Recorded(const wchar_t* area, const wchar_t* name) {
  return ReadString(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\VcStandins\\") + area, name);
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class Integration : public ::testing::Test {
 protected:
  fs::path dir;
  setup::SetupState s;
  void SetUp() override {
    dir = fs::path(L"C:\\integration") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    s.InstallDir = vx::FromWide(dir.wstring()) + u"\\";
    s.AllUsers = true;
  }
  std::wstring Dir() const { return vx::ToWide(s.InstallDir); }
};

}  // namespace

TEST_F(Integration, AssociationsHaveQuotedCommandsAndGoOnlyWhenStillOurs) {
  for (const wchar_t* e : {L".smvx", L".swb", L".vot", L".smv", L".kwb"})
    EXPECT_TRUE(setup::RegisterAssociation(e, Dir()));
  const std::wstring expected = L"\"" + Dir() + L"qrplayerex.exe\" \"%1\"";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quorin_smvx\\Shell\\Open\\Command", nullptr), expected);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quorin_smvx\\DefaultIcon", nullptr),
            L"\"" + Dir() + L"qrplayerex.exe\",0");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".swb", nullptr), L"Quorin_swb");
  // An outside reader sees the same.
  const std::string out = RegQuery(L"HKCR\\Quorin_swb\\Shell\\Open\\Command /ve");
  EXPECT_NE(out.find("\"" + vx::Utf16ToUtf8(s.InstallDir) + "wbeditor.exe\" \"%1\""), std::string::npos) << out;

  // Another program takes .swb over: that association survives our removal.
  const std::wstring other = L"\"C:\\Other\\editor.exe\" \"%1\"";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Quorin_swb\\Shell\\Open\\Command", 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                 DWORD((other.size() + 1) * 2));
  RegCloseKey(key);
  // The user gives .kwb to a type of their own; our ProgID stays behind unnamed.
  ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L".kwb", REG_SZ, L"UserBoard", 9 * sizeof(wchar_t)), ERROR_SUCCESS);
  EXPECT_TRUE(setup::RemoveAssociations(dir.wstring() + L"2"));  // a sibling folder: nothing of its own
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Quorin_smvx"));
  // Every type pointing into the folder goes, whichever kind wrote it.
  EXPECT_TRUE(setup::RemoveAssociations(dir.wstring()));
  for (const wchar_t* key :
       {L".smvx", L"Quorin_smvx", L".vot", L"Quorin_vote", L".smv", L"Quorin_smv", L"Quorin_kwb"})
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << vx::Utf16ToUtf8(vx::FromWide(key));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".kwb", nullptr), L"UserBoard");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quorin_swb\\Shell\\Open\\Command", nullptr), other);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".swb", nullptr), L"Quorin_swb");
  RegDeleteKeyW(HKEY_CLASSES_ROOT, L".kwb");
  EXPECT_TRUE(setup::DeleteKeyTree(HKEY_CLASSES_ROOT, L"Quorin_swb"));
  RegDeleteKeyW(HKEY_CLASSES_ROOT, L".swb");
  EXPECT_FALSE(setup::DeleteKeyTree(HKEY_CLASSES_ROOT, L"Quorin_swb"));
}

TEST(KeyTree, AnUndeletableSubkeyEndsTheWalk) {
  // A subkey whose security forbids deletion: the walk stops instead of
  // trying it forever, and reports failure.
  HKEY child;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"VcTreeTest\\child\\leaf", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"VcTreeTest\\child", 0, WRITE_DAC, &child), ERROR_SUCCESS);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  ACL acl;
  InitializeAcl(&acl, sizeof acl, ACL_REVISION);  // grants nothing
  SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
  const LONG secured = RegSetKeySecurity(child, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(child);
  ASSERT_EQ(secured, ERROR_SUCCESS);
  HKEY probe;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"VcTreeTest\\child", 0, KEY_READ, &probe) == ERROR_SUCCESS) {
    RegCloseKey(probe);
    GTEST_SKIP() << "key security is not enforced here";
  }
  EXPECT_FALSE(setup::DeleteKeyTree(HKEY_CLASSES_ROOT, L"VcTreeTest"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"VcTreeTest"));
  // The owner may still open it up again; then the tree goes.
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"VcTreeTest\\child", 0, WRITE_DAC, &child), ERROR_SUCCESS);
  SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);  // no DACL: everyone may
  RegSetKeySecurity(child, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(child);
  EXPECT_TRUE(setup::DeleteKeyTree(HKEY_CLASSES_ROOT, L"VcTreeTest"));
}

TEST_F(Integration, StandInComponentsRecordRegistrationAndFailuresReport) {
  // Names of this test only: the prefix's system folder is shared with the
  // installs of the e2e tests.
  fs::copy_file(Standin("standin_component.dll"), dir / "vc_copied.ocx");
  fs::copy_file(Standin("standin_component.dll"), dir / "vc_moved.ax");
  fs::copy_file(Standin("standin_component_fails.dll"), dir / "vc_fails.dll");
  fs::copy_file(Standin("standin_component_noexport.dll"), dir / "vc_noexport.vov");
  const std::wstring system = setup::SystemFolder(s);
  ASSERT_FALSE(system.empty());
  const wchar_t* names[] = {L"vc_copied.ocx", L"vc_moved.ax", L"vc_fails.dll", L"vc_noexport.vov"};
  for (const wchar_t* n : names) DeleteFileW((system + L"\\" + n).c_str());

  EXPECT_TRUE(setup::CopyAndRegister(s, L"vc_copied.ocx"));
  EXPECT_EQ(Recorded(L"Registered", L"vc_copied.ocx"), system + L"\\vc_copied.ocx");
  EXPECT_TRUE(fs::exists(dir / "vc_copied.ocx"));  // copied

  EXPECT_TRUE(setup::MoveAndRegister(s, L"vc_moved.ax"));
  EXPECT_FALSE(fs::exists(dir / "vc_moved.ax"));  // moved
  EXPECT_EQ(Recorded(L"Registered", L"vc_moved.ax"), system + L"\\vc_moved.ax");
  // With a copy already in the system folder the carried one stays and the
  // system copy is registered.
  fs::copy_file(Standin("standin_component_fails.dll"), dir / "vc_moved.ax");
  EXPECT_TRUE(setup::MoveAndRegister(s, L"vc_moved.ax"));
  EXPECT_TRUE(fs::exists(dir / "vc_moved.ax"));

  EXPECT_FALSE(setup::MoveAndRegister(s, L"vc_fails.dll"));
  EXPECT_EQ(Recorded(L"Failed", L"vc_fails.dll"), L"DllRegisterServer");
  EXPECT_FALSE(setup::CopyAndRegister(s, L"vc_noexport.vov"));
  EXPECT_FALSE(setup::CopyAndRegister(s, L"missing.dll"));
  const std::string out = RegQuery(L"HKLM\\Software\\VcStandins\\Registered /v vc_copied.ocx");
  EXPECT_NE(out.find("vc_copied.ocx"), std::string::npos) << out;
  for (const wchar_t* n : names) DeleteFileW((system + L"\\" + n).c_str());
}

TEST_F(Integration, SampleGrabberKeysHoldTheExactBytes) {
  const std::wstring system = setup::SystemFolder(s);
  ASSERT_TRUE(fs::exists(system + L"\\qedit.dll"));  // Wine has one: the carried copy goes
  Write(dir / "qedit.dll", "carried");
  EXPECT_TRUE(setup::RegisterSampleGrabber(s));
  EXPECT_FALSE(fs::exists(dir / "qedit.dll"));
  EXPECT_TRUE(setup::RegisterSampleGrabber(s));  // again, with nothing carried left
  const std::wstring clsid = L"CLSID\\{C1F400A0-3F08-11D3-9F0B-006008039E37}";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid, nullptr), L"Sample Grabber");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", nullptr), system + L"\\qedit.dll");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel"), L"Both");
  const std::wstring instance =
      L"CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\{C1F400A0-3F08-11D3-9F0B-006008039E37}";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, instance, L"FriendlyName"), L"SampleGrabber");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, instance, L"CLSID"), L"{C1F400A0-3F08-11D3-9F0B-006008039E37}");
  const std::string hex =
      "02000000"
      "00002000"
      "02000000"
      "00000000"
      "30706933"
      "00000000"
      "00000000"
      "01000000"
      "00000000"
      "00000000"
      "30747933"
      "00000000"
      "60000000"
      "60000000"
      "31706933"
      "08000000"
      "00000000"
      "01000000"
      "00000000"
      "00000000"
      "30747933"
      "00000000"
      "60000000"
      "60000000"
      "00000000000000000000000000000000";
  ASSERT_EQ(hex.size(), 224u);
  std::string upper;
  for (char c : hex) upper += char(std::toupper(static_cast<unsigned char>(c)));
  const std::string out = RegQuery(L"\"HKCR\\" + instance + L"\" /v FilterData");
  EXPECT_NE(out.find(upper), std::string::npos) << out;
}

TEST_F(Integration, LanguageIniTakesTheInstallLanguage) {
  EXPECT_FALSE(setup::SetLanguageIni(s));
  Write(dir / "language.ini", "[language]\r\ntype=gb\r\n");
  s.Language = setup::kJapanese;
  EXPECT_TRUE(setup::SetLanguageIni(s));
  wchar_t value[21] = {};
  GetPrivateProfileStringW(L"language", L"type", L"", value, 21, (dir / "language.ini").wstring().c_str());
  EXPECT_STREQ(value, L"jp");
}

namespace {

template <class Info>
std::vector<std::wstring> Names(BOOL (*enumerate)(Info*, DWORD, DWORD*, DWORD*)) {
  DWORD needed = 0, count = 0;
  enumerate(nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed + 1);
  std::vector<std::wstring> names;
  if (!enumerate(reinterpret_cast<Info*>(buffer.data()), needed, &needed, &count)) return names;
  for (DWORD i = 0; i < count; ++i) names.push_back(reinterpret_cast<Info*>(buffer.data())[i].pName);
  return names;
}

BOOL Printers(PRINTER_INFO_1W* b, DWORD n, DWORD* needed, DWORD* count) {
  return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 1, reinterpret_cast<BYTE*>(b), n, needed, count);
}
BOOL Drivers(DRIVER_INFO_1W* b, DWORD n, DWORD* needed, DWORD* count) {
  return EnumPrinterDriversW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(b), n, needed, count);
}
BOOL Processors(PRINTPROCESSOR_INFO_1W* b, DWORD n, DWORD* needed, DWORD* count) {
  return EnumPrintProcessorsW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(b), n, needed, count);
}

size_t CountOf(const std::vector<std::wstring>& names, const std::wstring& name) {
  return size_t(std::count(names.begin(), names.end(), name));
}

std::wstring DriverDir() {
  wchar_t path[MAX_PATH] = {};
  DWORD needed = 0;
  GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path), sizeof path, &needed);
  return path;
}

}  // namespace

TEST_F(Integration, PrinterDriverAndProcessorAreListedAndASecondInstallAddsNoPrinter) {
  // From a clean spooler: an earlier install in this prefix left its files.
  setup::RemovePrinter(setup::kDocumentPrinter);
  for (const char* f : {"STDNAMES.GPD", "UNIDRV.DLL", "UNIDRV.HLP", "UNIDRVUI.DLL", "UNIRES.DLL", "vprinter.dll",
                        "vprinter.GPD", "vpproc.dll"})
    Write(dir / f, std::string("new ") + f);
  // A driver file already in the driver folder is kept.
  const fs::path kept = fs::path(DriverDir()) / "UNIRES.DLL";
  Write(kept, "existing");

  EXPECT_TRUE(setup::InstallPrinter(s, setup::kDocumentPrinter));
  EXPECT_EQ(CountOf(Names(Printers), setup::kDocumentPrinter), 1u);
  EXPECT_EQ(CountOf(Names(Drivers), setup::kDocumentDriver), 1u);
  EXPECT_EQ(CountOf(Names(Processors), setup::kPrintProcessor), 1u);
  EXPECT_EQ(Read(kept), "existing");
  EXPECT_EQ(Read(fs::path(DriverDir()) / "vprinter.dll"), "new vprinter.dll");

  // Again: the queue is emptied, nothing is added twice.
  EXPECT_TRUE(setup::InstallPrinter(s, setup::kDocumentPrinter));
  EXPECT_EQ(CountOf(Names(Printers), setup::kDocumentPrinter), 1u);
  EXPECT_TRUE(setup::InstallPrintProcessor(s, setup::kPrintProcessor));
  EXPECT_EQ(CountOf(Names(Processors), setup::kPrintProcessor), 1u);
  EXPECT_TRUE(setup::EnsureSpoolerRunning());
}

TEST_F(Integration, PrinterInstallerAndEncoderStandInsGetTheirArguments) {
  EXPECT_FALSE(setup::RunPrinterInstaller(s));
  fs::copy_file(Standin("standin_virtual_printer.dll"), dir / "VirtualPrinter.dll");
  EXPECT_TRUE(setup::RunPrinterInstaller(s));
  EXPECT_EQ(Recorded(L"VirtualPrinter", L"Printer"), L"VedozEzuveruV4");
  EXPECT_EQ(Recorded(L"VirtualPrinter", L"Driver"), L"VedozEzuveru Driver");
  EXPECT_EQ(Recorded(L"VirtualPrinter", L"Folder"), Dir() + L"VedozEzuveru");

  EXPECT_FALSE(setup::RunEncoderInstaller(Dir(), 5000));
  fs::copy_file(Standin("standin_encoder.exe"), dir / "WMEncoder_cn.exe");
  EXPECT_TRUE(setup::RunEncoderInstaller(dir.wstring(), 15000));
  const std::wstring line = Recorded(L"Encoder", L"CommandLine");
  EXPECT_NE(line.find(L"WMEncoder_cn.exe"), std::wstring::npos) << line;
  EXPECT_EQ(line.substr(line.size() - 3), L" /Q") << line;

  // One that never ends is given up at the limit and left running.
  fs::remove(dir / "WMEncoder_cn.exe");
  fs::copy_file(Standin("standin_encoder_never_exits.exe"), dir / "WMEncoder_cn.exe");
  const DWORD start = GetTickCount();
  EXPECT_FALSE(setup::RunEncoderInstaller(Dir(), 1500));
  EXPECT_GE(GetTickCount() - start, 1400u);
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  int killed = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"WMEncoder_cn.exe") != 0) continue;
    const HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (p && TerminateProcess(p, 0)) ++killed;
    if (p) {
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
  }
  CloseHandle(snapshot);
  EXPECT_EQ(killed, 1);
}
