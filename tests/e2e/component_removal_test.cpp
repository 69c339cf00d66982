// What the uninstaller undoes of the component group, after driven installs
// of V4.0 and V3.0 client packages, read back with Wine's own `reg query`:
// associations and ProgIDs, the stand-in components' registrations, the
// document printer with driver and processor, and the spool folder setting.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/utf16.h"
#include "tests/e2e/driven_run.h"
#include "tests/e2e/sample_variant.h"
#include "tests/support/file_io.h"
#include "tools/wizard_driver/wizard_driver.h"

namespace fs = std::filesystem;
using wizard_driver::WizardDriver;

namespace {

constexpr int kNext = 1003, kPartly = 1045;
const fs::path kProbeFiles = VC_PROBE_FILES;
const wchar_t kStandins[] = L"HKLM\\Software\\VcStandins";
const wchar_t* const kPrinterKeys[] = {L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers",
                                       L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers",
                                       L"HKLM\\SYSTEM\\ControlSet001\\Control\\Print\\Printers"};

struct RegAnswer {
  DWORD code = DWORD(-1);  // 0: found
  std::string output;
};

// Wine's reg.exe with `arguments`; its exit code and what it printed.
RegAnswer Reg(const std::wstring& arguments) {
  wchar_t system[MAX_PATH] = {}, temp[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  GetTempPathW(MAX_PATH, temp);
  const fs::path program = fs::path(system) / "reg.exe", log = fs::path(temp) / "component-removal-reg.txt";
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(log.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  PROCESS_INFORMATION pi = {};
  std::wstring line = L"reg.exe " + arguments;
  RegAnswer answer;
  if (CreateProcessW(program.wstring().c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &answer.code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    ADD_FAILURE() << "cannot start reg.exe";
  }
  CloseHandle(out);
  const auto bytes = testing_support::ReadAll(log);
  answer.output.assign(bytes.begin(), bytes.end());
  return answer;
}

bool KeyThere(const std::wstring& key) { return Reg(L"query \"" + key + L"\"").code == 0; }

// The data of a value as `reg query` prints it ("<none>" when it is not there);
// `name` empty: the default value.
std::string Value(const std::wstring& key, const std::wstring& name) {
  const RegAnswer a = Reg(L"query \"" + key + L"\" " + (name.empty() ? L"/ve" : L"/v \"" + name + L"\""));
  if (a.code != 0) return "<none>";
  const size_t type = a.output.find("REG_SZ");
  if (type == std::string::npos) return "<not text>";
  size_t start = a.output.find_first_not_of(' ', type + 6);
  size_t end = a.output.find_first_of("\r\n", start);
  return start == std::string::npos ? "" : a.output.substr(start, end - start);
}

std::string Narrow(const std::wstring& w) { return vx::Utf16ToUtf8(vx::FromWide(w)); }

void SetDefault(HKEY root, const std::wstring& path, const std::wstring& value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

fs::path SystemFolder() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return system;
}

bool PrinterListed() {
  HANDLE printer = nullptr;
  if (!OpenPrinterW(const_cast<LPWSTR>(L"Quorin Document Loader"), &printer, nullptr)) return false;
  ClosePrinter(printer);
  return true;
}

bool DriverListed() {
  DWORD needed = 0, count = 0;
  EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
  if (!needed) return false;
  std::vector<BYTE> buffer(needed);
  if (!EnumPrinterDriversW(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count)) return false;
  const auto* info = reinterpret_cast<const DRIVER_INFO_1W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i)
    if (info[i].pName && std::wstring(info[i].pName) == L"Quorin Document Printer") return true;
  return false;
}

fs::path ProcessorFile() {
  wchar_t path[MAX_PATH] = {};
  DWORD needed = 0;
  GetPrintProcessorDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path), sizeof path, &needed);
  return fs::path(path) / "vpproc.dll";
}

// The spool folder setting under each printers key ("<none>" where absent).
std::vector<std::string> SpoolSettings() {
  std::vector<std::string> out;
  for (const wchar_t* key : kPrinterKeys) out.push_back(Value(key, L"DefaultSpoolDirectory"));
  return out;
}

// Sets the spool folder setting under printers key `index` to `value`, or
// deletes it for "<none>".
void SetSpoolSetting(size_t index, const std::string& value) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPrinterKeys[index] + 5, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    EXPECT_EQ(value, "<none>") << "no printers key " << index;
    return;
  }
  if (value == "<none>") {
    RegDeleteValueW(key, L"DefaultSpoolDirectory");
  } else {
    const std::wstring w = vx::ToWide(vx::Utf8ToUtf16(value));
    RegSetValueExW(key, L"DefaultSpoolDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(w.c_str()),
                   DWORD((w.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}

// Puts the machine's spool settings back when it goes: as found, or the
// system's own folder where a folder of these tests was named.
struct SpoolSettingsKeeper {
  std::vector<std::string> original = SpoolSettings();
  ~SpoolSettingsKeeper() {
    const std::string system = Narrow((SystemFolder() / "spool" / "PRINTERS").wstring());
    for (size_t i = 0; i < original.size(); ++i)
      SetSpoolSetting(i, original[i].rfind("C:\\e2e", 0) == 0 ? system : original[i]);
  }
};

class ComponentRemoval : public ::testing::Test {
 protected:
  fs::path work;
  void SetUp() override {
    work = fs::path(L"C:\\e2e-components") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work);
    fs::create_directories(work);
    // A machine where no earlier test left the stand-ins in the system folder:
    // this install places them.
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\VcStandins");
    for (const char* name : {"qrimgoleEx.dll", "RunQrplayer.ocx", "DavOzodu.vov", "qrgrabber.ax"}) {
      std::error_code ec;
      fs::remove(SystemFolder() / name, ec);
    }
    // Nor uses counted by earlier tests' installs, nor their printer.
    for (const wchar_t* key : {L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", L"Software\\Video Conference",
                               L"Software\\Conference Server"})
      SHDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(const_cast<LPWSTR>(L"Quorin Document Loader"), &printer, &all)) {
      DeletePrinter(printer);
      ClosePrinter(printer);
    }
  }

  // Starts dest\uninstall.exe, follows its relaunch and removes partly.
  void Uninstall(const fs::path& dest) {
    WizardDriver first;
    ASSERT_TRUE(first.Start(dest / "uninstall.exe"));
    ASSERT_TRUE(first.FollowChild()) << "no relaunched copy";
    ASSERT_TRUE(first.WaitFrame());
    ASSERT_TRUE(first.WaitPage(8));
    first.Click(kPartly);
    Sleep(300);
    first.Click(kNext);
    ASSERT_TRUE(first.WaitPage(11, 90000));
    first.Click(kNext);
    EXPECT_EQ(first.WaitExit(), 0u);
  }

  void Install(const fs::path& package, const fs::path& dest) {
    const auto st = e2e::RunDriven(package, {L"-en", dest.wstring()});
    ASSERT_GE(st.size(), 3u);
    EXPECT_EQ(st[st.size() - 2].code, 0x50009u);
    EXPECT_EQ(st.back().code, 0u);
  }
};

}  // namespace

TEST_F(ComponentRemoval, V4ClientTakesEveryTypeOfItsFolderComponentsAndPrinterAndLeavesARepointedType) {
  const fs::path dest = work / "Quorin";
  const std::wstring d = dest.wstring() + L"\\";
  const std::vector<std::string> spoolBefore = SpoolSettings();
  Install(e2e::BinDir() / "sample_package.exe", dest);
  ASSERT_EQ(Value(L"HKCR\\.smvx", L""), "Quorin_smvx");
  ASSERT_EQ(Value(L"HKCR\\Quorin_swb\\Shell\\Open\\Command", L""), Narrow(L"\"" + d + L"wbeditor.exe\" \"%1\""));
  for (const wchar_t* name : {L"qrimgoleEx.dll", L"RunQrplayer.ocx", L"qrgrabber.ax"})
    ASSERT_NE(Value(std::wstring(kStandins) + L"\\Registered", name), "<none>") << Narrow(name);
  ASSERT_TRUE(PrinterListed());
  ASSERT_TRUE(DriverListed());

  // Another program takes over ".swb" with its own editor.
  const fs::path other = work / "Other Editor";
  const std::wstring otherCommand = L"\"" + (other / "wbeditor.exe").wstring() + L"\" \"%1\"";
  SetDefault(HKEY_CLASSES_ROOT, L"Quorin_swb\\Shell\\Open\\Command", otherCommand);
  // A V3.0 install into this folder before left its player type.
  SetDefault(HKEY_CLASSES_ROOT, L".smv", L"Quorin_smv");
  SetDefault(HKEY_CLASSES_ROOT, L"Quorin_smv\\Shell\\Open\\Command", L"\"" + d + L"qrplayer.exe\" \"%1\"");

  Uninstall(dest);
  EXPECT_FALSE(fs::exists(dest));

  // Every type pointing into the folder is gone with its ProgID, the shared
  // one and the earlier kind's too; the re-pointed one stays whole.
  for (const wchar_t* key : {L"HKCR\\.smvx", L"HKCR\\Quorin_smvx", L"HKCR\\.vot", L"HKCR\\Quorin_vote",
                             L"HKCR\\.smv", L"HKCR\\Quorin_smv"})
    EXPECT_FALSE(KeyThere(key)) << Narrow(key);
  EXPECT_EQ(Value(L"HKCR\\.swb", L""), "Quorin_swb");
  EXPECT_EQ(Value(L"HKCR\\Quorin_swb\\Shell\\Open\\Command", L""), Narrow(otherCommand));
  EXPECT_EQ(Value(L"HKCR\\Quorin_swb\\DefaultIcon", L""), Narrow(L"\"" + d + L"wbeditor.exe\",0"));

  // The components it placed are unregistered and gone from the system folder.
  for (const wchar_t* name : {L"qrimgoleEx.dll", L"RunQrplayer.ocx", L"qrgrabber.ax"}) {
    EXPECT_EQ(Value(std::wstring(kStandins) + L"\\Registered", name), "<none>") << Narrow(name);
    EXPECT_EQ(Value(std::wstring(kStandins) + L"\\Unregistered", name), "DllUnregisterServer") << Narrow(name);
    EXPECT_FALSE(fs::exists(SystemFolder() / name)) << Narrow(name);
  }

  // Printer, driver and the processor's file are gone (Wine keeps listing a
  // deleted processor); the spooler runs; the spool setting is untouched.
  EXPECT_FALSE(PrinterListed());
  EXPECT_FALSE(DriverListed());
  EXPECT_FALSE(fs::exists(ProcessorFile()));
  EXPECT_EQ(SpoolSettings(), spoolBefore);
}

TEST_F(ComponentRemoval, SharedComponentsAndPrinterStayUntilTheLastProductOfTheFamilyGoes) {
  const fs::path client = work / "Client", server = work / "Server";
  Install(e2e::BinDir() / "sample_package.exe", client);
  const fs::path serverWork = work / "server package";
  fs::create_directories(serverWork);
  Install(e2e::BuildSampleVariant(serverWork, kProbeFiles, {{"ServerPackage", 1}}, true,
                                  {{"\"Video Conference\"", "\"Conference Server\""},
                                   {"5A1C7E42-93B0", "6B2D8F53-A4C1"}}),
          server);
  const fs::path grabber = SystemFolder() / "qrgrabber.ax";
  ASSERT_TRUE(fs::exists(grabber));
  ASSERT_TRUE(PrinterListed());
  const std::wstring counts = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
  const RegAnswer listed = Reg(L"query \"" + counts + L"\" /v \"" + grabber.wstring() + L"\"");
  EXPECT_NE(listed.output.find("0x2"), std::string::npos) << listed.output;  // one use per product

  // The client goes: what only it used goes with it; the shared ones stay.
  Uninstall(client);
  EXPECT_FALSE(fs::exists(SystemFolder() / "RunQrplayer.ocx"));
  EXPECT_TRUE(fs::exists(grabber));
  EXPECT_NE(Value(std::wstring(kStandins) + L"\\Registered", L"qrgrabber.ax"), "<none>");
  EXPECT_TRUE(PrinterListed());
  EXPECT_TRUE(DriverListed());

  // The last product of the family goes: nothing of the family is left.
  Uninstall(server);
  EXPECT_FALSE(fs::exists(grabber));
  EXPECT_EQ(Value(std::wstring(kStandins) + L"\\Registered", L"qrgrabber.ax"), "<none>");
  EXPECT_FALSE(PrinterListed());
  EXPECT_FALSE(DriverListed());
  EXPECT_NE(Reg(L"query \"" + counts + L"\" /v \"" + grabber.wstring() + L"\"").code, 0u);
}

TEST_F(ComponentRemoval, V3ClientPutsTheSpoolFolderBackAndKeepsWhatWasThere) {
  const fs::path package = e2e::BuildSampleVariant(work, kProbeFiles, {}, true, {{"\"V4\\.0\"", "\"V3.0\""}});
  const fs::path dest = work / "Quorin V3";
  const std::wstring d = dest.wstring() + L"\\";
  // A stand-in already in the system folder before the install is not its own.
  fs::copy_file(kProbeFiles / "qrgrabber.ax", SystemFolder() / "qrgrabber.ax");
  // The machine's spool folder: a distinctive one, where the setting is kept.
  const SpoolSettingsKeeper keeper;
  std::vector<size_t> kept;
  for (size_t i = 0; i < keeper.original.size(); ++i)
    if (keeper.original[i] != "<none>") kept.push_back(i);
  if (kept.empty()) kept = {1};
  const fs::path machineSpool = work / "Machine Spool";
  fs::create_directories(machineSpool);
  for (size_t i : kept) SetSpoolSetting(i, Narrow(machineSpool.wstring()));
  const std::vector<std::string> spoolBefore = SpoolSettings();
  const std::string grabberServer =
      Value(L"HKCR\\CLSID\\{C1F400A0-3F08-11D3-9F0B-006008039E37}\\InprocServer32", L"");

  Install(package, dest);
  ASSERT_EQ(Value(L"HKCR\\.kwb", L""), "Quorin_kwb");
  ASSERT_EQ(Value(L"HKCR\\Quorin_smv\\Shell\\Open\\Command", L""), Narrow(L"\"" + d + L"qrplayer.exe\" \"%1\""));
  ASSERT_NE(Value(std::wstring(kStandins) + L"\\Registered", L"DavOzodu.vov"), "<none>");
  const std::vector<std::string> spoolDuring = SpoolSettings();
  for (size_t i = 0; i < spoolDuring.size(); ++i)
    std::printf("spool setting %zu: before \"%s\", installed \"%s\"\n", i, spoolBefore[i].c_str(),
                spoolDuring[i].c_str());
  EXPECT_NE(std::find(spoolDuring.begin(), spoolDuring.end(), Narrow(d + L"PrintSpool")), spoolDuring.end());
  ASSERT_TRUE(fs::is_directory(dest / "PrintSpool"));

  Uninstall(dest);
  EXPECT_FALSE(fs::exists(dest));  // the spool folder was the install's too

  EXPECT_EQ(SpoolSettings(), spoolBefore);
  for (const wchar_t* key : {L"HKCR\\.smv", L"HKCR\\Quorin_smv", L"HKCR\\.kwb", L"HKCR\\Quorin_kwb"})
    EXPECT_FALSE(KeyThere(key)) << Narrow(key);
  for (const wchar_t* name : {L"qrimgoleEx.dll", L"DavOzodu.vov"}) {
    EXPECT_EQ(Value(std::wstring(kStandins) + L"\\Registered", name), "<none>") << Narrow(name);
    EXPECT_FALSE(fs::exists(SystemFolder() / name)) << Narrow(name);
  }
  // The grabber that was there stays registered and in place; so does the
  // system's own qedit.dll with its Sample Grabber keys.
  EXPECT_NE(Value(std::wstring(kStandins) + L"\\Registered", L"qrgrabber.ax"), "<none>");
  EXPECT_TRUE(fs::exists(SystemFolder() / "qrgrabber.ax"));
  if (grabberServer != "<none>") {
    EXPECT_TRUE(fs::exists(SystemFolder() / "qedit.dll"));
    EXPECT_NE(Value(L"HKCR\\CLSID\\{C1F400A0-3F08-11D3-9F0B-006008039E37}\\InprocServer32", L""), "<none>");
  }
  EXPECT_FALSE(PrinterListed());
  EXPECT_FALSE(DriverListed());

  // An earlier install of this folder left the setting naming its spool
  // folder: that is not what the machine had, so the uninstaller puts the
  // system's own folder there.
  for (size_t i : kept) SetSpoolSetting(i, Narrow(d + L"PrintSpool"));
  Install(package, dest);
  Uninstall(dest);
  EXPECT_FALSE(fs::exists(dest));
  const std::vector<std::string> spoolAfter = SpoolSettings();
  for (size_t i : kept) EXPECT_EQ(spoolAfter[i], Narrow((SystemFolder() / "spool" / "PRINTERS").wstring())) << i;

  std::error_code ec;
  fs::remove(SystemFolder() / "qrgrabber.ax", ec);
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\VcStandins");
}
