// Online packages under Wine against the natively running update server of
// the online_server fixture: the language page (or without it the destination
// page) waits for the file list, the download page fetches every file, the
// install steps run and the finish page shows (an install step that fails
// leaves the download page aborted); no server gives the connect-failure box.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "base/fs_path.h"
#include "base/utf16.h"
#include "tests/e2e/sample_variant.h"
#include "tests/support/file_io.h"
#include "tests/support/string_table_file.h"
#include "tools/mkpackage/package_builder.h"
#include "tools/wizard_driver/wizard_driver.h"
#include "update/update_messages.h"

namespace fs = std::filesystem;
using testing_support::ReadAll;
using wizard_driver::WizardDriver;

namespace {

constexpr int kBack = 1002, kNext = 1003, kCancel = 1004, kTitle = 1005, kFolder = 1024;

// An English text of the string table, as the program shows it.
std::wstring Text(uint16_t key) {
  static const testing_support::StringTableFile table = testing_support::ReadStringTableFile(VC_STRING_TABLE);
  const auto found = table.texts.find(key);
  return found == table.texts.end() ? L"<missing>" : vx::ToWide(found->second);
}

const fs::path kProbeFiles = VC_PROBE_FILES;
const fs::path kServerDir = VC_ONLINE_SERVER_DIR;

// The first number in a file of the online_server fixture ("ports": the
// control port; "address", "address-none": the address servers').
uint16_t FixturePort(const char* name = "ports") {
  std::ifstream in(kServerDir / name);
  unsigned port = 0;
  in >> port;
  return uint16_t(port);
}
uint16_t ControlPort() { return FixturePort(); }

class OnlineInstall : public ::testing::Test {
 protected:
  fs::path work, package, dest;
  WizardDriver driver;
  bool addressServers = false;  // Build's list names address servers

  void SetUp() override {
    work = fs::path(L"C:\\e2e-online") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dest = work / "Quorin";
    fs::remove_all(work);
    fs::create_directories(work);
  }

  // `package`: the sample for the fixture's update server, reached at `host`
  // (127.0.0.2: through the fixture's link relay) and listed after `before`
  // (servers tried first).
  void BuildForServer(const std::string& host = "127.0.0.1", const std::string& before = "",
                      bool languagePage = true) {
    const uint16_t port = ControlPort();
    ASSERT_NE(port, 0) << "no update server (online_server fixture)";
    package = Build(before + host + ":" + std::to_string(port), languagePage);
  }

  // The sample manifest as an online package of `servers`; the sample's own
  // language (no language page) unless `languagePage`.
  fs::path Build(const std::string& servers, bool languagePage = true) {
    std::ifstream in(fs::path(VC_SOURCE_DIR) / "tools/sample/manifest.json");
    std::string manifest((std::istreambuf_iterator<char>(in)), {});
    if (languagePage)
      manifest = std::regex_replace(manifest, std::regex("\"DefaultLanguage\": *[0-9]+"), "\"DefaultLanguage\": 0");
    std::ofstream(work / "manifest.json") << manifest;
    mkpackage::BuildOptions o;
    o.manifestPath = vx::PathToUtf8(work / "manifest.json");
    o.stubPath = vx::PathToUtf8(e2e::BinDir() / "setup.exe");
    o.outputPath = vx::PathToUtf8(work / "package.exe");
    o.onlineServers = servers;
    o.addressServers = addressServers;
    o.onlineProductCode = "1001";
    mkpackage::BuildSummary summary;
    std::string error;
    EXPECT_TRUE(mkpackage::BuildPackage(o, summary, error)) << error;
    EXPECT_EQ(summary.files, 0u);
    return work / "package.exe";
  }

  int Next() {
    const int before = driver.CurrentPage();
    driver.Click(kNext);
    wizard_driver::WaitFor([&] { const int now = driver.CurrentPage(); return now != before && now != -1; }, 5000);
    return driver.CurrentPage();
  }

  // BuildForServer, then the wizard at the ready page installing into `dest`.
  // With `servers` given, the sample for those instead.
  void StartAtReadyPage(const std::string& servers = {}) {
    if (servers.empty()) ASSERT_NO_FATAL_FAILURE(BuildForServer());
    else package = Build(servers);
    ASSERT_TRUE(driver.Start(package));
    ASSERT_TRUE(driver.WaitFrame());
    ASSERT_TRUE(driver.WaitPage(1));
    // The language page waits for the server, then offers Next.
    ASSERT_TRUE(wizard_driver::WaitFor([&] { return driver.Enabled(kNext); }, 60000)) << "never connected";
    ASSERT_EQ(Next(), 2);
    ASSERT_EQ(Next(), 4);
    driver.Type(kFolder, dest.wstring());
    ASSERT_EQ(Next(), 5);
    ASSERT_EQ(Next(), 7);
  }

  // Every probe file is in `dest` as published; no partial download is left.
  void ExpectDownloadedFiles() {
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(kProbeFiles)) {
      const fs::path rel = fs::relative(e.path(), kProbeFiles);
      if (e.is_directory()) {
        EXPECT_TRUE(fs::is_directory(dest / rel)) << rel.string();
        continue;
      }
      ++files;
      // Moved into the system folder when no copy is there yet (the install
      // of a machine where an earlier one removed them again).
      if ((rel == "qrimgoleEx.dll" || rel == "qrgrabber.ax") && !fs::exists(dest / rel)) {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        EXPECT_TRUE(fs::exists(fs::path(system) / rel)) << rel.string();
        continue;
      }
      EXPECT_TRUE(ReadAll(dest / rel) == ReadAll(e.path())) << rel.string();
    }
    EXPECT_GT(files, 0u);
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
      const std::wstring name = e.path().filename().wstring();
      EXPECT_FALSE(name.ends_with(L".udt!") || name.ends_with(L".sd!")) << e.path().string();
    }
  }

  // Message 0x4C8 from another process: its parameters must mean nothing.
  void PostForeignNotices() {
    for (LPARAM junk : {LPARAM(1), LPARAM(0x7FFF0010), LPARAM(-1)})
      PostMessageW(driver.Frame(), WM_USER + 200, WPARAM(junk), junk);
  }
};

}  // namespace

TEST_F(OnlineInstall, DownloadsEveryFileAndInstallsIt) {
  ASSERT_NO_FATAL_FAILURE(StartAtReadyPage());
  PostForeignNotices();
  ASSERT_EQ(Next(), 10);
  PostForeignNotices();  // while the transfer's notices arrive
  ASSERT_TRUE(driver.WaitPage(11, 120000)) << "page " << driver.CurrentPage();

  ExpectDownloadedFiles();
  EXPECT_TRUE(fs::exists(dest / "uninstall.exe"));
  EXPECT_TRUE(fs::exists(dest / "FileInfo.info"));
  driver.Click(kNext);
  EXPECT_EQ(driver.WaitExit(), 0u);

  // The uninstaller's partial removal takes every downloaded file: the install
  // recorded the file list's keys.
  constexpr int kPartly = 1045;
  fs::create_directories(work / "temporary");
  const fs::path uninstaller = work / "temporary" / "uninstall.exe";
  fs::copy_file(dest / "uninstall.exe", uninstaller);
  WizardDriver uninstall;
  ASSERT_TRUE(uninstall.Start(uninstaller, L"\"" + dest.wstring() + L"\""));
  ASSERT_TRUE(uninstall.WaitFrame());
  ASSERT_TRUE(uninstall.WaitPage(8));
  uninstall.Click(kPartly);
  Sleep(300);
  uninstall.Click(kNext);
  ASSERT_TRUE(uninstall.WaitPage(11, 60000));
  uninstall.Click(kNext);
  EXPECT_EQ(uninstall.WaitExit(), 0u);
  if (fs::exists(dest))
    for (const auto& e : fs::recursive_directory_iterator(dest))
      EXPECT_FALSE(e.is_regular_file()) << "left: " << e.path().string();
}

TEST_F(OnlineInstall, WithoutTheLanguagePageTheDestinationWaitsForTheFileList) {
  constexpr int kRequired = 1026;
  // Port 1 refuses: its attempts (about five seconds) come before the server's.
  ASSERT_NO_FATAL_FAILURE(BuildForServer("127.0.0.1", "127.0.0.1:1,", false));
  ASSERT_TRUE(driver.Start(package));
  ASSERT_TRUE(driver.WaitFrame());
  ASSERT_TRUE(driver.WaitPage(2));
  ASSERT_EQ(Next(), 4);
  // The sample's language is simplified Chinese: "Connecting to the server. . ." is text 786.
  EXPECT_EQ(driver.PageText(4, kRequired), Text(786));
  ASSERT_FALSE(driver.Enabled(kNext));
  driver.Type(kFolder, dest.wstring());  // a valid folder does not end the wait
  EXPECT_FALSE(driver.Enabled(kNext));
  ASSERT_TRUE(wizard_driver::WaitFor([&] { return driver.Enabled(kNext); }, 30000)) << "never connected";
  // "Space required:%s" with the list's total.
  const std::wstring required = driver.PageText(4, kRequired);
  EXPECT_TRUE(required.starts_with(Text(65).substr(0, Text(65).find(L"%s")))) << required;
  EXPECT_FALSE(required.ends_with(L"0.0KB")) << required;
  ASSERT_EQ(Next(), 5);
  ASSERT_EQ(Next(), 7);
  ASSERT_EQ(Next(), 10);  // the download page, not the progress page
  EXPECT_FALSE(driver.Enabled(kNext));
  EXPECT_FALSE(driver.Enabled(kBack));
  EXPECT_TRUE(driver.Enabled(kCancel));
  EXPECT_EQ(driver.Text(kTitle), Text(30));  // "Installing"
  ASSERT_TRUE(driver.WaitPage(11, 120000)) << "page " << driver.CurrentPage();
  EXPECT_TRUE(fs::exists(dest / "uninstall.exe"));
  driver.Click(kNext);
  EXPECT_EQ(driver.WaitExit(), 0u);
}

TEST_F(OnlineInstall, CorruptDownloadIsFetchedAgainThenReported) {
  // The server opens a file for each transfer: spoil one byte of the middle
  // of a published download file (same length), and put it back afterwards.
  const fs::path published = kServerDir / "published" / "files" / "ZepClient.exe";
  const std::vector<uint8_t> original = ReadAll(published);
  ASSERT_GT(original.size(), 100u);
  std::vector<uint8_t> spoilt = original;
  spoilt[spoilt.size() / 2] ^= 0xFF;
  testing_support::WriteAll(published, spoilt);
  struct Restore {
    const fs::path& path;
    const std::vector<uint8_t>& bytes;
    ~Restore() { testing_support::WriteAll(path, bytes); }
  } restore{published, original};
  ASSERT_NO_FATAL_FAILURE(StartAtReadyPage());
  ASSERT_EQ(Next(), 10);
  HWND box = driver.WaitMessageBox(60000);
  ASSERT_TRUE(box) << "no error box";
  EXPECT_NE(WizardDriver::MessageText(box).find(L"24"), std::wstring::npos) << WizardDriver::MessageText(box);
  WizardDriver::Answer(box, IDOK);
  EXPECT_EQ(driver.WaitExit(), 0u);
  EXPECT_FALSE(fs::exists(dest / "ZepClient.exe"));  // never installed
  EXPECT_FALSE(fs::exists(dest / "uninstall.exe"));  // the install steps did not run
}

TEST_F(OnlineInstall, OwnFileThatCannotBeOpenedIsAskedForThenTheInstallEndsAborted) {
  ASSERT_NO_FATAL_FAILURE(StartAtReadyPage());
  // The install steps read the uninstaller's image from the package file.
  const fs::path moved = work / "moved.exe";
  ASSERT_TRUE(MoveFileW(package.wstring().c_str(), moved.wstring().c_str())) << GetLastError();
  ASSERT_EQ(Next(), 10);
  for (int button : {IDRETRY, IDCANCEL}) {
    HWND box = driver.WaitMessageBox(120000);
    ASSERT_TRUE(box) << "no prompt for the package file";
    EXPECT_EQ(WizardDriver::MessageText(box), Text(465));
    WizardDriver::Answer(box, button);
    wizard_driver::WaitFor([&] { return !IsWindow(box); }, 5000);
  }
  EXPECT_TRUE(wizard_driver::WaitFor([&] { return driver.Text(kTitle) == Text(287); }, 10000))
      << driver.Text(kTitle);
  EXPECT_EQ(driver.CurrentPage(), 10);  // never the finish page
  EXPECT_FALSE(driver.Enabled(kNext));
  EXPECT_TRUE(driver.Enabled(kCancel));
  EXPECT_TRUE(fs::exists(dest / "ZepClient.exe"));  // downloaded
  EXPECT_FALSE(fs::exists(dest / "uninstall.exe"));  // the install steps stopped
  driver.Click(kCancel);
  HWND confirm = driver.WaitMessageBox();
  ASSERT_TRUE(confirm) << "Cancel did not ask";
  WizardDriver::Answer(confirm, IDYES);
  EXPECT_EQ(driver.WaitExit(), 0u);
}

TEST_F(OnlineInstall, UnsafeFileListsAreRefusedBeforeAnythingIsWritten) {
  // The file list travels like any file: the server sends what its folder
  // holds now. Give it entries that would leave the install folder.
  const fs::path list = kServerDir / "published" / "FileInfo.info";
  const std::vector<uint8_t> original = ReadAll(list);
  struct Restore {
    const fs::path& path;
    const std::vector<uint8_t>& bytes;
    ~Restore() { testing_support::WriteAll(path, bytes); }
  } restore{list, original};
  ASSERT_NO_FATAL_FAILURE(BuildForServer());
  for (const std::u16string& bad : std::vector<std::u16string>{
           u"..\\..\\evil", u"C:\\e2e-online\\evil", std::u16string(300, u'e')}) {
    std::vector<update::FileInfo> files;
    ASSERT_TRUE(update::DecodeFileList(original.data(), original.size(), files));
    update::FileInfo evil;
    evil.nFileID = 100000;
    evil.type = update::kFileTypeDirectory;  // not served, so the server lets it through
    evil.strFileKey = bad;
    files.push_back(evil);
    testing_support::WriteAll(list, update::EncodeFileList(files));
    WizardDriver run;
    ASSERT_TRUE(run.Start(package));
    ASSERT_TRUE(run.WaitFrame());
    HWND box = run.WaitMessageBox(30000);
    ASSERT_TRUE(box) << "no error box";
    EXPECT_NE(WizardDriver::MessageText(box).find(L"24"), std::wstring::npos) << WizardDriver::MessageText(box);
    WizardDriver::Answer(box, IDOK);
    EXPECT_EQ(run.WaitExit(), 0u);
    EXPECT_FALSE(fs::exists(L"C:\\e2e-online\\evil"));
    EXPECT_FALSE(fs::exists(work.parent_path().parent_path() / "evil"));
  }
}

TEST_F(OnlineInstall, NoServerShowsTheConnectFailureBox) {
  // A port nobody listens on (the fixture's server has the control port).
  package = Build("127.0.0.1:1");
  ASSERT_TRUE(driver.Start(package));
  ASSERT_TRUE(driver.WaitFrame());
  HWND box = driver.WaitMessageBox(30000);
  ASSERT_TRUE(box) << "no error box";
  EXPECT_FALSE(WizardDriver::MessageText(box).empty());
  WizardDriver::Answer(box, IDOK);
  EXPECT_EQ(driver.WaitExit(), 0u);
}

// ---- through the fixture's link relay: 127.0.0.2 leads to the server's
// ports over a link the tests slow down, cut or close.

namespace {

// One control line to the relay; its reply (ends with "ok" or an error).
std::string Relay(const std::string& line) {
  std::ifstream in(kServerDir / "relay");
  unsigned port = 0;
  in >> port;
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  std::string reply;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_port = htons(uint16_t(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) {
    const std::string text = line + "\n";
    send(s, text.data(), int(text.size()), 0);
    char buffer[1024];
    for (int n; reply.find("ok\n") == std::string::npos && reply.find("error") == std::string::npos &&
                (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
      reply.append(buffer, size_t(n));
  }
  closesocket(s);
  return reply;
}

// A figure of the relay's statistics line for `port` ("down": bytes the
// relay delivered from the server; "accepted", "refused": connections).
uint64_t RelayFigure(const std::string& port, const std::string& name) {
  const std::string stats = Relay("stats");
  std::smatch m;
  const std::regex figure(port + ":[^\n]* " + name + " ([0-9]+)");
  return std::regex_search(stats, m, figure) ? std::stoull(m[1]) : 0;
}

class OnlineLinks : public OnlineInstall {
 protected:
  std::string control, transfer;

  void SetUp() override {
    OnlineInstall::SetUp();
    std::ifstream in(kServerDir / "ports");
    in >> control >> transfer;
    Reset();
  }
  void TearDown() override { Reset(); }
  void Reset() {
    for (const std::string& command : {"pass " + control, "pass " + transfer, std::string("delay 0"),
                                       std::string("rate 0")})
      ASSERT_NE(Relay(command).find("ok"), std::string::npos) << command << ": no link relay";
  }
  int UpdateLogCount(const std::string& text) {
    int n = 0;
    if (fs::is_directory(work / "log"))
      for (const auto& e : fs::recursive_directory_iterator(work / "log")) {
        std::ifstream in(e.path());
        for (std::string l; std::getline(in, l);) n += l.find(text) != std::string::npos;
      }
    return n;
  }
  // Downloads through the relay as it is set; the finish page ends it.
  void InstallThroughTheRelay(int speedWithinSeconds) {
    ASSERT_NO_FATAL_FAILURE(StartAtReadyPage("127.0.0.2:" + control));
    ASSERT_EQ(Next(), 10);
    constexpr int kSpeed = 1091;
    EXPECT_TRUE(wizard_driver::WaitFor(
        [&] {
          const std::wstring speed = driver.PageText(10, kSpeed);
          return driver.CurrentPage() == 11 ||
                 (!speed.empty() && speed.find(L":0B/") == std::wstring::npos && speed.find(L":0KB/") == std::wstring::npos);
        },
        DWORD(speedWithinSeconds) * 1000))
        << "no speed shown: " << driver.PageText(10, kSpeed);
    ASSERT_TRUE(driver.WaitPage(11, 180000)) << "page " << driver.CurrentPage();
    ExpectDownloadedFiles();
    driver.Click(kNext);
    EXPECT_EQ(driver.WaitExit(), 0u);
  }
  // The wizard ends in the refusal box within `seconds` and installs nothing.
  void ExpectRefusalBox(WizardDriver& run, int seconds) {
    HWND box = run.WaitMessageBox(DWORD(seconds) * 1000);
    ASSERT_TRUE(box) << "no error box within " << seconds << " s";
    EXPECT_EQ(WizardDriver::MessageText(box), Text(776));
    WizardDriver::Answer(box, IDOK);
    EXPECT_EQ(run.WaitExit(), 0u);
    EXPECT_FALSE(fs::exists(dest));
  }
};

}  // namespace

TEST_F(OnlineLinks, SlowLinksInstallWithoutReconnecting) {
  // 100 ms round trips at 1 MB/s a connection, then 300 ms at 200 KB/s.
  Relay("delay 50");
  Relay("rate 1000000");
  ASSERT_NO_FATAL_FAILURE(InstallThroughTheRelay(5));
  EXPECT_EQ(UpdateLogCount("[ReConnect]"), 0);
}

TEST_F(OnlineLinks, SlowerLinkShowsItsSpeedAndCompletes) {
  Relay("delay 150");
  Relay("rate 200000");
  ASSERT_NO_FATAL_FAILURE(InstallThroughTheRelay(5));
  EXPECT_EQ(UpdateLogCount("[ReConnect]"), 0);
}

TEST_F(OnlineLinks, CutTwiceResumesTheDownloads) {
  Relay("rate 100000");
  const uint64_t before = RelayFigure(transfer, "down");
  ASSERT_NO_FATAL_FAILURE(StartAtReadyPage("127.0.0.2:" + control));
  ASSERT_EQ(Next(), 10);
  for (int cut = 0; cut < 2; ++cut) {
    Sleep(1500);
    EXPECT_NE(Relay("cut").find("ok"), std::string::npos);
  }
  ASSERT_TRUE(driver.WaitPage(11, 180000)) << "page " << driver.CurrentPage();
  ExpectDownloadedFiles();
  driver.Click(kNext);
  EXPECT_EQ(driver.WaitExit(), 0u);
  uint64_t published = 0;
  for (const auto& e : fs::recursive_directory_iterator(kServerDir / "published"))
    if (e.is_regular_file()) published += uint64_t(e.file_size());
  const uint64_t sent = RelayFigure(transfer, "down") - before;
  EXPECT_LT(sent, published + published / 3) << "the cut files were not resumed";
  EXPECT_GE(UpdateLogCount("[ReConnect]"), 1);
}

TEST_F(OnlineLinks, UnreachableServicesEndInTheRefusalBox) {
  // The transfer port accepts and closes; the control port does; neither
  // answers at all.
  for (const std::string refuse : {transfer, control, std::string("both")}) {
    SCOPED_TRACE(refuse);
    if (refuse == "both") Relay("drop " + control), Relay("drop " + transfer);
    else Relay("refuse " + refuse);
    const uint64_t tried = RelayFigure(refuse, "refused");
    ASSERT_NO_FATAL_FAILURE(BuildForServer("127.0.0.2"));
    WizardDriver run;
    ASSERT_TRUE(run.Start(package));
    ASSERT_TRUE(run.WaitFrame());
    ExpectRefusalBox(run, 60);
    // Paced attempts, not a loop: five connects a cycle.
    EXPECT_LE(RelayFigure(refuse, "refused") - tried, 12u);
    Reset();
  }
}

TEST_F(OnlineLinks, SecondServerServesWhenTheFirstIsUnreachable) {
  ASSERT_NO_FATAL_FAILURE(StartAtReadyPage("127.0.0.1:1,127.0.0.2:" + control));
  ASSERT_EQ(Next(), 10);
  ASSERT_TRUE(driver.WaitPage(11, 120000)) << "page " << driver.CurrentPage();
  ExpectDownloadedFiles();
}

// Address-server mode: the fixture's address server names its update server;
// one that names no live server gives the "no usable address" box, and no
// address server at all the connect-failure box.
TEST_F(OnlineInstall, AddressServerModeInstallsFromTheServerItNames) {
  addressServers = true;
  ASSERT_NE(FixturePort("address"), 0) << "no address server (online_server fixture)";
  ASSERT_NO_FATAL_FAILURE(StartAtReadyPage("127.0.0.1:" + std::to_string(FixturePort("address"))));
  ASSERT_EQ(Next(), 10);
  ASSERT_TRUE(driver.WaitPage(11, 120000)) << "page " << driver.CurrentPage();
  ExpectDownloadedFiles();
  driver.Click(kNext);
  EXPECT_EQ(driver.WaitExit(), 0u);

  for (const auto& [servers, text] : std::vector<std::pair<std::string, uint16_t>>{
           {"127.0.0.1:" + std::to_string(FixturePort("address-none")), 796}, {"127.0.0.1:1", 776}}) {
    SCOPED_TRACE(servers);
    const fs::path built = Build(servers);
    WizardDriver run;
    ASSERT_TRUE(run.Start(built));
    ASSERT_TRUE(run.WaitFrame());
    HWND box = run.WaitMessageBox(30000);
    ASSERT_TRUE(box) << "no error box";
    EXPECT_EQ(WizardDriver::MessageText(box), Text(text));
    WizardDriver::Answer(box, IDOK);
    EXPECT_EQ(run.WaitExit(), 0u);
  }
}
