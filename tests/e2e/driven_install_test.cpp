// Driven installs of real packages under Wine: the test is the controlling
// window, as a program that drives setup would be.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>
#include <winspool.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "base/fs_path.h"
#include "base/le_int.h"
#include "base/utf16.h"
#include "setup/startup/language_strings.h"
#include "setup/package/instance_marker.h"
#include "setup/package/package_header.h"
#include "setup/package/payload_table.h"
#include "tools/mkpackage/package_builder.h"
#include "tests/e2e/driven_run.h"
#include "tests/e2e/sample_variant.h"
#include "tests/support/file_io.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using testing_support::ReadAll;
using testing_support::WriteAll;

using e2e::BinDir;

namespace {

using e2e::Codes;
using e2e::RunDriven;
using e2e::Status;

std::u16string U(const fs::path& p) { return vx::FromWide(p.wstring()); }

class DrivenInstall : public ::testing::Test {
 protected:
  fs::path work;  // under C:\ of the prefix
  void SetUp() override {
    work = fs::path(L"C:\\e2e") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work);
    fs::create_directories(work);
  }

  // A package of `files` with the sample manifest, `DefaultLanguage` changed.
  fs::path Build(const fs::path& files, int defaultLanguage) {
    return e2e::BuildSampleVariant(work, files, {{"DefaultLanguage", defaultLanguage}});
  }
};

const fs::path kProbeFiles = VC_PROBE_FILES;

}  // namespace

TEST_F(DrivenInstall, SampleInstallsWithTheStatusSequenceAndIdenticalFiles) {
  const fs::path dest = work / "Quorin";
  const auto st = RunDriven(BinDir() / "sample_package.exe", {L"-en", dest.wstring()});
  ASSERT_GE(st.size(), 8u);
  // The header fixes simplified Chinese over the "-en" switch.
  const std::vector<uint32_t> codes = Codes(st);
  const std::vector<uint32_t> head = {0x10000, 0x20000, 0x30000, 0x50001};
  EXPECT_EQ(std::vector<uint32_t>(codes.begin(), codes.begin() + 4), head);
  EXPECT_EQ(st[3].text, u"输出文件夹：" + U(dest) + u"\\");
  for (const auto& s : st) EXPECT_EQ(s.bytes, s.text.size() * 2 + 2);

  // One copy line per file, a folder line once per new folder, in payload order.
  size_t copies = 0, folders = 0, i = 4;
  for (; i < st.size() && (st[i].code == 0x50002 || st[i].code == 0x50003); ++i)
    (st[i].code == 0x50003 ? copies : folders)++;
  size_t expectedFiles = 0;
  for (const auto& e : fs::recursive_directory_iterator(kProbeFiles)) {
    if (!e.is_regular_file()) continue;
    ++expectedFiles;
    const fs::path rel = fs::relative(e.path(), kProbeFiles);
    // Moved into the system folder (unless a copy is there), or rewritten.
    if (rel == "qedit.dll" || rel == "qrimgoleEx.dll" || rel == "qrgrabber.ax" || rel == "language.ini") continue;
    EXPECT_EQ(ReadAll(dest / rel), ReadAll(e.path())) << rel.string();
  }
  EXPECT_EQ(copies, expectedFiles);
  EXPECT_EQ(folders, 3u);  // VMSkin\, config\ and IniFolder\ of the sample
  EXPECT_TRUE(fs::exists(dest / "empty.dat") && fs::file_size(dest / "empty.dat") == 0);

  // Then the eight shortcuts, the uninstaller, both groups and "Completed".
  const std::vector<uint32_t> tail = {0x50004, 0x50004, 0x50004, 0x50004, 0x50004, 0x50004,
                                      0x50004, 0x50004, 0x50005, 0x50006, 0x50009, 0x00000};
  EXPECT_EQ(std::vector<uint32_t>(codes.begin() + i, codes.end()), tail);
  EXPECT_EQ(st.back().text, u"完成");

  // uninstall.exe: the program image marked as the uninstaller, then the record.
  const Bytes uninstaller = ReadAll(dest / "uninstall.exe");
  const auto group = package::FindMarkerGroup(uninstaller.data(), uninstaller.size());
  ASSERT_TRUE(group);
  EXPECT_EQ(group->pair, package::kUninstallerMarker);
  const Bytes setup = ReadAll(BinDir() / "setup.exe");
  const Bytes sample = ReadAll(BinDir() / "sample_package.exe");
  EXPECT_EQ(group->headerOffset, setup.size());
  // The headers as in the package but for the PE checksum (of the file written).
  const size_t checksum = vx::ReadLE32(&sample[0x3C]) + 24 + 64;
  EXPECT_TRUE(std::equal(uninstaller.begin(), uninstaller.begin() + checksum, sample.begin()));
  EXPECT_TRUE(std::equal(uninstaller.begin() + checksum + 4, uninstaller.begin() + 1024, sample.begin() + checksum + 4));
  EXPECT_EQ(uninstaller.size() % 8, 0u);
  EXPECT_GT(uninstaller.size(), setup.size() + 1812);
}

namespace {

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
  wchar_t value[1024] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  const LONG r = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? std::wstring(value) : L"<none>";
}

std::wstring Recorded(const wchar_t* area, const wchar_t* name) {
  return ReadString(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\VcStandins\\") + area, name);
}

void ForgetRecords() {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\VcStandins");  // the tree compiles for XP: no RegDeleteTreeW
}

bool PrinterListed(const wchar_t* name) {
  HANDLE printer = nullptr;
  if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, nullptr)) return false;
  ClosePrinter(printer);
  return true;
}

}  // namespace

TEST_F(DrivenInstall, ClientPackageRegistersComponentsAssociationsAndPrinter) {
  ForgetRecords();
  const fs::path dest = work / "client";
  const auto st = RunDriven(BinDir() / "sample_package.exe", {L"-en", dest.wstring()});
  ASSERT_GE(st.size(), 3u);
  EXPECT_EQ(st[st.size() - 2].code, 0x50009u);
  EXPECT_EQ(st.back().code, 0u);
  const std::wstring d = dest.wstring() + L"\\";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".smvx", nullptr), L"Quorin_smvx");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quorin_smvx\\Shell\\Open\\Command", nullptr),
            L"\"" + d + L"qrplayerex.exe\" \"%1\"");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quorin_swb\\DefaultIcon", nullptr), L"\"" + d + L"wbeditor.exe\",0");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quorin_vote\\Shell\\Open\\Command", nullptr),
            L"\"" + d + L"qrvoteedit.exe\" \"%1\"");
  for (const wchar_t* component : {L"qrimgoleEx.dll", L"RunQrplayer.ocx", L"qrgrabber.ax"})
    EXPECT_NE(Recorded(L"Registered", component), L"<none>") << component;
  EXPECT_EQ(Recorded(L"VirtualPrinter", L"Printer"), L"VedozEzuveruV4");
  EXPECT_EQ(Recorded(L"VirtualPrinter", L"Folder"), d + L"VedozEzuveru");
  EXPECT_NE(Recorded(L"Encoder", L"CommandLine").find(L"/Q"), std::wstring::npos);
  EXPECT_TRUE(PrinterListed(L"Quorin Document Loader"));
}

TEST_F(DrivenInstall, FailingComponentFailsTheGroupButTheInstallCompletes) {
  const fs::path files = work / "files";
  fs::copy(kProbeFiles, files, fs::copy_options::recursive);
  fs::remove(files / "RunQrplayer.ocx");
  fs::copy_file(BinDir() / "standins" / "standin_component_fails.dll", files / "RunQrplayer.ocx");
  const fs::path dest = work / "app";
  const auto st = RunDriven(Build(files, 1), {L"-en", dest.wstring()});
  ASSERT_GE(st.size(), 3u);
  EXPECT_EQ(st[st.size() - 2].code, 0x5010Au);
  EXPECT_EQ(st.back().code, 0u);
  EXPECT_TRUE(fs::exists(dest / "uninstall.exe"));
  EXPECT_EQ(Recorded(L"Failed", L"RunQrplayer.ocx"), L"DllRegisterServer");
}

TEST_F(DrivenInstall, V3PackageRegistersItsTypesGrabberAndSpoolFolder) {
  ForgetRecords();
  // The sample manifest as a "V3.0" package.
  std::ifstream in(fs::path(VC_SOURCE_DIR) / "tools/sample/manifest.json");
  std::string manifest((std::istreambuf_iterator<char>(in)), {});
  manifest = std::regex_replace(manifest, std::regex("\"V4\\.0\""), "\"V3.0\"");
  std::ofstream(work / "manifest.json") << manifest;
  mkpackage::BuildOptions o;
  o.manifestPath = vx::PathToUtf8(work / "manifest.json");
  o.filesDir = vx::PathToUtf8(kProbeFiles);
  o.stubPath = vx::PathToUtf8(BinDir() / "setup.exe");
  o.outputPath = vx::PathToUtf8(work / "package.exe");
  mkpackage::BuildSummary summary;
  std::string error;
  ASSERT_TRUE(mkpackage::BuildPackage(o, summary, error)) << error;

  const wchar_t* printers = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
  const std::wstring previous = ReadString(HKEY_LOCAL_MACHINE, printers, L"DefaultSpoolDirectory");
  const fs::path dest = work / "v3";
  const auto st = RunDriven(work / "package.exe", {L"-en", dest.wstring()});
  ASSERT_GE(st.size(), 3u);
  EXPECT_EQ(st[st.size() - 2].code, 0x50009u);
  EXPECT_EQ(st.back().code, 0u);
  const std::wstring d = dest.wstring() + L"\\";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quorin_smv\\Shell\\Open\\Command", nullptr),
            L"\"" + d + L"qrplayer.exe\" \"%1\"");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".kwb", nullptr), L"Quorin_kwb");
  EXPECT_NE(Recorded(L"Registered", L"DavOzodu.vov"), L"<none>");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT,
                       L"CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\"
                       L"{C1F400A0-3F08-11D3-9F0B-006008039E37}",
                       L"FriendlyName"),
            L"SampleGrabber");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, printers, L"DefaultSpoolDirectory"), d + L"PrintSpool");
  EXPECT_TRUE(fs::is_directory(dest / "PrintSpool"));
  // Put the machine's spool folder back for the other tests.
  HKEY key;
  if (previous != L"<none>" && previous != L"<no key>" &&
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, printers, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegSetValueExW(key, L"DefaultSpoolDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous.c_str()),
                   DWORD((previous.size() + 1) * 2));
    RegCloseKey(key);
  }
}

TEST_F(DrivenInstall, LanguageSwitchAndDestinationItems) {
  const fs::path package = Build(kProbeFiles, 0);
  // Five items: Japanese into the default destination.
  wchar_t programFiles[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
  const std::u16string expected = setup::DefaultDestination(vx::FromWide(programFiles), u"ビデオ会議ソフト") + u"\\";
  auto st = RunDriven(package, {L"-jp"});
  ASSERT_GE(st.size(), 4u);
  EXPECT_EQ(st[0].text, u"オペレーティング システムのバージョンを確認しています...");
  EXPECT_EQ(st[3].text, u"出力フォルダー：" + expected);
  EXPECT_EQ(st.back().code, 0u);
  EXPECT_TRUE(fs::exists(fs::path(vx::ToWide(expected)) / "ZepClient.exe"));

  // Six items: the switch in any case, and the given folder.
  st = RunDriven(package, {L"-BIG", (work / "big").wstring()});
  ASSERT_GE(st.size(), 4u);
  EXPECT_EQ(st[3].text, u"輸出資料夾：" + U(work / "big") + u"\\");
  // An unknown switch keeps the system language (English here) and the folder.
  st = RunDriven(package, {L"-xx", (work / "other").wstring()});
  ASSERT_GE(st.size(), 4u);
  EXPECT_EQ(st[3].text, u"Output folder: " + U(work / "other") + u"\\");
  EXPECT_EQ(st.back().text, u"Completed");
}

TEST_F(DrivenInstall, TargetHeldOpenStopsTheRun) {
  const fs::path dest = work / "app";
  fs::create_directories(dest);
  WriteAll(dest / "ZepClient.exe", Bytes{1, 2, 3});
  const HANDLE held = CreateFileW((dest / "ZepClient.exe").wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto st = RunDriven(BinDir() / "sample_package.exe", {L"-en", dest.wstring()});
  CloseHandle(held);
  ASSERT_FALSE(st.empty());
  EXPECT_EQ(st.back().code, 0x50103u);
  EXPECT_EQ(st.back().text, u"无法写入：" + U(dest / "ZepClient.exe"));
  EXPECT_EQ(ReadAll(dest / "ZepClient.exe"), (Bytes{1, 2, 3}));
  EXPECT_FALSE(fs::exists(dest / "uninstall.exe"));
}

TEST_F(DrivenInstall, CorruptStreamStopsAndLeavesNoPartialFile) {
  // Corrupt the LZMA data of ZepClient.exe in a copy of the sample.
  Bytes bytes = ReadAll(BinDir() / "sample_package.exe");
  const auto group = package::FindMarkerGroup(bytes.data(), bytes.size());
  ASSERT_TRUE(group);
  package::MemorySource source(bytes.data() + group->headerOffset, bytes.size() - group->headerOffset);
  package::PackageHeader header;
  size_t headerBytes = 0;
  ASSERT_EQ(package::ReadHeader(source, header, headerBytes), package::HeaderError::None);
  package::PayloadTable table;
  ASSERT_EQ(package::ReadPayloadTable(source, table), package::PayloadError::None);
  const size_t payload = group->headerOffset + headerBytes;
  bool corrupted = false;
  for (const auto& e : table.entries)
    if (e.path == u"ZepClient.exe") {
      ASSERT_NE(e.streamHead[12], 1) << "compressed";
      std::fill_n(bytes.begin() + payload + e.streamOffset + 13, e.streamSize - 13, 0xFF);
      corrupted = true;
    }
  ASSERT_TRUE(corrupted);
  WriteAll(work / "corrupt.exe", bytes);

  const fs::path dest = work / "app";
  const auto st = RunDriven(work / "corrupt.exe", {L"-en", dest.wstring()});
  ASSERT_FALSE(st.empty());
  EXPECT_EQ(st.back().code, 0x50102u);
  EXPECT_EQ(st.back().text, u"无法创建：" + U(dest / "ZepClient.exe"));
  EXPECT_FALSE(fs::exists(dest / "ZepClient.exe"));
  EXPECT_TRUE(fs::exists(dest / "Qrdraw.exe"));  // written before it
}

TEST_F(DrivenInstall, SixtyFourMebibytesOfZerosInstall) {
  const fs::path files = work / "files";
  WriteAll(files / "zeros.bin", Bytes(64u << 20, 0));
  WriteAll(files / "bin" / "tool.dll", Bytes(1000, 7));
  const fs::path package = Build(files, 3);
  EXPECT_LT(fs::file_size(package), fs::file_size(BinDir() / "setup.exe") + (2u << 20));
  const fs::path dest = work / "app";
  const auto st = RunDriven(package, {L"-en", dest.wstring()});
  ASSERT_FALSE(st.empty());
  EXPECT_EQ(st.back().code, 0u);
  ASSERT_TRUE(fs::exists(dest / "zeros.bin"));
  EXPECT_EQ(fs::file_size(dest / "zeros.bin"), 64u << 20);
  EXPECT_EQ(ReadAll(dest / "zeros.bin"), Bytes(64u << 20, 0));
  EXPECT_EQ(ReadAll(dest / "bin" / "tool.dll"), Bytes(1000, 7));
}

TEST_F(DrivenInstall, NoWindowReportsNothingAndControllerExitCodes) {
  // "-d 0 0": no controlling window, nothing happens.
  const fs::path sample = BinDir() / "sample_package.exe";
  std::wstring line = L"\"" + sample.wstring() + L"\" -d 0 0 -en \"" + (work / "none").wstring() + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(sample.wstring().c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(fs::exists(work / "none"));

  // The controller prints every status and exits 0 when none is a failure.
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  const fs::path log = work / "controller.txt";
  const HANDLE out = CreateFileW(log.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  const fs::path controller = BinDir() / "setup_controller.exe";
  line = L"\"" + controller.wstring() + L"\" \"" + sample.wstring() + L"\" -en \"" + (work / "app").wstring() + L"\"";
  ASSERT_TRUE(CreateProcessW(controller.wstring().c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 120000);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(out);
  EXPECT_EQ(code, 0u);
  const Bytes text = ReadAll(log);
  const std::string printed(text.begin(), text.end());
  EXPECT_NE(printed.find("0x50003 复制文件："), std::string::npos) << printed;
  EXPECT_NE(printed.find("0x00000 完成\n"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("0x501"), std::string::npos) << printed;
}
