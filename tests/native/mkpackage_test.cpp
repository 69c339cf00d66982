#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "base/le_int.h"
#include "setup/package/instance_marker.h"
#include "setup/package/lzma_stream.h"
#include "tools/mkpackage/manifest.h"
#include "tools/mkpackage/package_builder.h"
#include "tools/mkpackage/package_inspector.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

void WriteFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class MkPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("mkpackage_test_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "files");
    // A stand-in program image with one marker group.
    Bytes stub(6000, 0x90);
    package::PatchMarkerGroup(stub.data(), 2048, package::kFreshMarker, 0);
    std::ofstream(dir / "stub.exe", std::ios::binary).write(reinterpret_cast<char*>(stub.data()), stub.size());
    WriteFile(dir / "files" / "ZepClient.exe", std::string(50000, 'z'));
    WriteFile(dir / "files" / "VMSkin" / "login.bmp", "BM....");
    WriteFile(dir / "files" / "empty.dat", "");
    WriteFile(dir / "manifest.json", kManifest);
  }
  void TearDown() override { fs::remove_all(dir); }

  bool Build(std::string& error, bool update = false) {
    mkpackage::BuildOptions o;
    o.manifestPath = (dir / "manifest.json").string();
    o.filesDir = (dir / "files").string();
    o.stubPath = (dir / "stub.exe").string();
    o.outputPath = (dir / "package.exe").string();
    o.update = update;
    mkpackage::BuildSummary s;
    return mkpackage::BuildPackage(o, s, error);
  }

  std::string BuildError(const std::string& manifest) {
    WriteFile(dir / "manifest.json", manifest);
    std::string error;
    EXPECT_FALSE(Build(error));
    EXPECT_FALSE(fs::exists(dir / "package.exe"));
    EXPECT_FALSE(fs::exists(dir / "package.exe.part"));
    return error;
  }

  static constexpr const char* kManifest = R"({
    "ProductNameEn": "Video Conference", "ProductNameGb": "\u89c6\u9891\u4f1a\u8bae",
    "VersionLabel": "v4.0", "MainExe": "ZepClient.exe", "DefaultLanguage": 3,
    "ProgramGroup": {"En": "Video", "Gb": "\u89c6\u9891"},
    "ProgramGroupShortcuts": [
      {"CaptionEn": "Client", "Target": "ZepClient.exe"}, {"CaptionEn": "B", "Target": "b.exe"},
      {"CaptionEn": "C", "Target": "c.exe"}, {"CaptionEn": "D", "Target": "d.exe"}],
    "StartMenuShortcuts": [{"CaptionEn": "Client", "Target": "ZepClient.exe"}],
    "DesktopShortcuts": [{"CaptionEn": "Client", "Target": "ZepClient.exe"}],
    "QuickLaunchShortcuts": [{"CaptionEn": "Client", "Target": "ZepClient.exe"}],
    "PackageKind": "V4.0", "ExtraFolders": ["logs"]})";

  fs::path dir;
};

}  // namespace

TEST_F(MkPackage, BuildThenReadBackGivesTheManifest) {
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  EXPECT_EQ(info.marker.position, 2048u);
  EXPECT_EQ(info.marker.headerOffset, 6000u);
  EXPECT_EQ(package::RoleOfMarker(info.marker.pair), package::Role::FreshPackage);
  EXPECT_EQ(info.payloadOffset, 6000u + 14240);
  EXPECT_EQ(info.header.ProductNameEn, u"Video Conference");
  EXPECT_EQ(info.header.ProductNameGb, u"\u89c6\u9891\u4f1a\u8bae");
  EXPECT_EQ(info.header.DefaultLanguage, 3);
  EXPECT_EQ(info.header.TotalSize, 50006);
  EXPECT_EQ(info.header.ProgramGroupEn, u"Video");
  ASSERT_EQ(info.header.ProgramGroupShortcuts.size(), 4u);
  EXPECT_EQ(info.header.ProgramGroupShortcuts[0].Target, u"ZepClient.exe");
  EXPECT_EQ(info.payload.PackageKind, u"V4.0");
  ASSERT_EQ(info.payload.entries.size(), 3u);
  EXPECT_EQ(info.payload.entries[0].path, u"VMSkin\\login.bmp");
  EXPECT_EQ(info.payload.entries[1].path, u"ZepClient.exe");
  EXPECT_EQ(info.payload.entries[2].streamSize, 0u);  // empty file, empty stream
  EXPECT_EQ(info.payload.ExtraFolders, std::vector<std::u16string>{u"logs"});
  // The payload ends the file.
  EXPECT_EQ(info.payloadOffset + info.payload.size, fs::file_size(dir / "package.exe"));
  std::ostringstream out;
  EXPECT_TRUE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, out, error)) << error;

  // Repackaging a package uses only its program image.
  fs::copy_file(dir / "package.exe", dir / "stub.exe", fs::copy_options::overwrite_existing);
  ASSERT_TRUE(Build(error, /*update=*/true)) << error;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  EXPECT_EQ(info.marker.headerOffset, 6000u);
  EXPECT_EQ(package::RoleOfMarker(info.marker.pair), package::Role::UpdatePackage);
}

TEST_F(MkPackage, VerifyNamesTheFirstBadStream) {
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error));
  Bytes pkg = ReadFile(dir / "package.exe");
  const auto& e = info.payload.entries[1];
  for (size_t i = 20; i < e.streamSize; i += 5) pkg[info.payloadOffset + e.streamOffset + i] ^= 0x33;
  std::ofstream(dir / "package.exe", std::ios::binary).write(reinterpret_cast<char*>(pkg.data()), pkg.size());
  std::ostringstream out;
  EXPECT_FALSE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, out, error));
  EXPECT_NE(error.find("ZepClient.exe"), std::string::npos) << error;
}

TEST_F(MkPackage, BadManifestsNameTheFieldAndWriteNothing) {
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "MainExe": ")" + std::string(40, 'x') + "\"}")
                .find("MainExe"), std::string::npos);
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "DefaultLanguage": "one"})").find("DefaultLanguage"),
            std::string::npos);
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "ProductNameEn": 5})").find("ProductNameEn"),
            std::string::npos);
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "Colour": 1})").find("Colour"), std::string::npos);
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "TotalSize": 1})").find("TotalSize"), std::string::npos);
  EXPECT_NE(BuildError(R"({"MainExe": "a.exe"})").find("PackageKind"), std::string::npos);
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "DesktopShortcuts": [{"CaptionEn": "x"}]})")
                .find("DesktopShortcuts[0].Target"), std::string::npos);
  for (const char* bad : {"C:\\\\logs", "\\\\logs", "a\\\\..\\\\..\\\\b", "/etc", ".."})
    EXPECT_NE(BuildError(std::string(R"({"PackageKind": "V4.0", "ExtraFolders": [")") + bad + "\"]}")
                  .find("ExtraFolders[0]"), std::string::npos) << bad;
  EXPECT_NE(BuildError("{not json").find("JSON"), std::string::npos);
}

TEST_F(MkPackage, MissingInputsAreErrors) {
  std::string error;
  fs::remove_all(dir / "files");
  EXPECT_FALSE(Build(error));
  EXPECT_NE(error.find("--files"), std::string::npos) << error;
  fs::create_directories(dir / "files");
  std::ofstream(dir / "stub.exe", std::ios::binary) << "not a program";
  EXPECT_FALSE(Build(error));
  EXPECT_NE(error.find("--stub"), std::string::npos) << error;
  fs::remove(dir / "manifest.json");
  EXPECT_FALSE(Build(error));
  EXPECT_NE(error.find("--manifest"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir / "package.exe"));
}

TEST_F(MkPackage, ReadingDamagedPackagesFailsCleanly) {
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  const Bytes pkg = ReadFile(dir / "package.exe");
  for (size_t cut : {size_t{100}, size_t{6000 + 4000}, size_t{6000 + 14240 + 100}, pkg.size() - 1}) {
    std::ofstream(dir / "cut.exe", std::ios::binary).write(reinterpret_cast<const char*>(pkg.data()), cut);
    mkpackage::PackageInfo info;
    EXPECT_FALSE(mkpackage::ReadPackage((dir / "cut.exe").string(), info, error)) << cut;
  }
}

TEST_F(MkPackage, OnlinePackagesCarryNoFilesAndNameTheirServers) {
  mkpackage::BuildOptions o;
  o.manifestPath = (dir / "manifest.json").string();
  o.stubPath = (dir / "stub.exe").string();
  o.outputPath = (dir / "package.exe").string();
  mkpackage::BuildSummary s;
  std::string error;
  // Without files an offline package cannot be built.
  EXPECT_FALSE(mkpackage::BuildPackage(o, s, error));
  EXPECT_NE(error.find("--files"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir / "package.exe"));

  o.onlineServers = "update.example:17800,10.0.0.2:17800";
  o.onlineProductCode = "1001";
  o.filesDir = (dir / "files").string();  // ignored: the server has the files
  ASSERT_TRUE(mkpackage::BuildPackage(o, s, error)) << error;
  EXPECT_EQ(s.files, 0u);
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  EXPECT_EQ(info.header.OnlineInstall, 1);
  EXPECT_EQ(info.header.ServerListForm, 0);
  EXPECT_EQ(info.header.UpdateServers, u"update.example:17800,10.0.0.2:17800");
  EXPECT_EQ(info.header.OnlineProductCode, u"1001");
  EXPECT_EQ(info.header.TotalSize, 0);
  EXPECT_TRUE(info.payload.entries.empty());

  // A server list longer than its field is an error naming it.
  o.onlineServers = std::string(500, 'a') + ":1";
  EXPECT_FALSE(mkpackage::BuildPackage(o, s, error));
  EXPECT_NE(error.find("UpdateServers"), std::string::npos) << error;
}

TEST_F(MkPackage, LinksToFilesAreFollowedUnderTheirOwnNameOtherSpecialsAndCaseTwinsAreRefused) {
  WriteFile(dir / "outside.txt", "from outside");
  fs::create_symlink("ZepClient.exe", dir / "files" / "alias.exe");
  fs::create_symlink(dir / "outside.txt", dir / "files" / "outside_link.txt");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  std::vector<std::u16string> names;
  for (const auto& e : info.payload.entries) names.push_back(e.path);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"VMSkin\\login.bmp", u"ZepClient.exe", u"alias.exe",
                                                 u"empty.dat", u"outside_link.txt"}));
  EXPECT_EQ(info.header.TotalSize, 50006 + 50000 + 12);
  fs::remove(dir / "package.exe");

  auto refused = [&](const fs::path& made, const std::string& what) {
    std::string e;
    EXPECT_FALSE(Build(e)) << made;
    EXPECT_NE(e.find(made.filename().string()), std::string::npos) << e;
    EXPECT_NE(e.find(what), std::string::npos) << e;
    EXPECT_FALSE(fs::exists(dir / "package.exe"));
    EXPECT_FALSE(fs::exists(dir / "package.exe.part"));
    fs::remove(made);
  };
  fs::create_directory_symlink(dir / "files" / "VMSkin", dir / "files" / "skin_link");
  refused(dir / "files" / "skin_link", "link to a folder");
  fs::create_symlink(dir / "missing", dir / "files" / "dangling");
  refused(dir / "files" / "dangling", "dangling link");
  ASSERT_EQ(::mkfifo((dir / "files" / "VMSkin" / "pipe").c_str(), 0600), 0);
  refused(dir / "files" / "VMSkin" / "pipe", "not a regular file");
  WriteFile(dir / "files" / "vmskin" / "LOGIN.BMP", "x");  // one file with VMSkin\login.bmp on Windows
  refused(dir / "files" / "vmskin" / "LOGIN.BMP", "\"VMSkin\\login.bmp\" and \"vmskin\\LOGIN.BMP\"");
}

TEST_F(MkPackage, OutOfRangeIntegersAndControlCharactersAreRefused) {
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "ShowLicence": 18446744073709551615})").find("ShowLicence"),
            std::string::npos);
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "ShowLicence": 2147483648})").find("ShowLicence"),
            std::string::npos);
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "OnlineInstall": -2147483649})").find("OnlineInstall"),
            std::string::npos);
  const std::string bell = BuildError(R"({"PackageKind": "V4.0", "ProductNameEn": "Video\u001b[2J"})");
  EXPECT_NE(bell.find("ProductNameEn"), std::string::npos) << bell;
  EXPECT_NE(bell.find("U+001B"), std::string::npos) << bell;
  EXPECT_NE(BuildError(R"({"PackageKind": "V4.0", "DesktopShortcuts": [{"CaptionEn": "a\nb", "Target": "x"}]})")
                .find("DesktopShortcuts[0].CaptionEn"), std::string::npos);
  WriteFile(dir / "manifest.json", R"({"PackageKind": "V4.0", "ShowLicence": 2147483647})");
  std::string error;
  EXPECT_TRUE(Build(error)) << error;
}

TEST_F(MkPackage, InfoEscapesControlCharactersOfAForeignHeader) {
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  Bytes pkg = ReadFile(dir / "package.exe");
  pkg[6000 + 0xA0] = 0x1B;  // ProductNameEn starts with ESC
  std::ofstream(dir / "package.exe", std::ios::binary).write(reinterpret_cast<char*>(pkg.data()), pkg.size());
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  std::ostringstream out;
  mkpackage::PrintInfo(info, out);
  EXPECT_EQ(out.str().find('\x1b'), std::string::npos);
  EXPECT_NE(out.str().find("ProductNameEn: \"\\u001Bideo Conference\""), std::string::npos) << out.str();
}

TEST_F(MkPackage, MarkerBytesInAStoredPayloadDoNotHideTheProgramsGroup) {
  std::mt19937 rng(7);
  std::string noise(64 << 10, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  // The fresh marker pair at every residue modulo 8: one lands aligned.
  for (size_t k = 0; k < 8; ++k) {
    uint8_t pair[8];
    vx::WriteLE32(pair, package::kFreshMarker.word1);
    vx::WriteLE32(pair + 4, package::kFreshMarker.word2);
    noise.replace(4096 + k * 1025, 8, reinterpret_cast<char*>(pair), 8);
  }
  WriteFile(dir / "files" / "media.bin", noise);
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  EXPECT_EQ(info.marker.position, 2048u);
  std::ostringstream out;
  EXPECT_TRUE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, out, error)) << error;
  EXPECT_NE(out.str().find("media.bin (stored"), std::string::npos) << out.str();
  // The package is a valid stub for another package too.
  fs::copy_file(dir / "package.exe", dir / "stub.exe", fs::copy_options::overwrite_existing);
  EXPECT_TRUE(Build(error)) << error;
  // A second group inside the program part is still refused.
  Bytes stub(6000, 0x90);
  package::PatchMarkerGroup(stub.data(), 1024, package::kFreshMarker, 0);
  package::PatchMarkerGroup(stub.data(), 4096, package::kUpdateMarker, 0);
  std::ofstream(dir / "stub.exe", std::ios::binary).write(reinterpret_cast<char*>(stub.data()), stub.size());
  EXPECT_FALSE(Build(error));
  EXPECT_NE(error.find("--stub"), std::string::npos);
}

TEST_F(MkPackage, LargeFilesStreamInFileOrderWhateverTheWorkersAndLevel) {
  std::mt19937 rng(3);
  std::string noise(3 << 20, '\0');  // stored after the probe
  for (auto& c : noise) c = static_cast<char>(rng());
  std::string text;
  while (text.size() < (5u << 20)) text += "line " + std::to_string(text.size() % 7919) + " of a log\n";
  WriteFile(dir / "files" / "a_small.txt", "tiny");
  WriteFile(dir / "files" / "m_noise.bin", noise);
  WriteFile(dir / "files" / "z_text.log", text);
  std::string error;
  Bytes first;
  for (unsigned threads : {1u, 2u, 4u}) {
    mkpackage::BuildOptions o;
    o.manifestPath = (dir / "manifest.json").string();
    o.filesDir = (dir / "files").string();
    o.stubPath = (dir / "stub.exe").string();
    o.outputPath = (dir / "package.exe").string();
    o.threads = threads;
    mkpackage::BuildSummary s;
    ASSERT_TRUE(mkpackage::BuildPackage(o, s, error)) << error;
    EXPECT_EQ(s.stored, 3u);  // the noise and the two tiny files
    const Bytes pkg = ReadFile(dir / "package.exe");
    if (first.empty()) first = pkg;
    EXPECT_TRUE(pkg == first) << threads << " workers give other bytes";
  }
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  std::vector<std::u16string> names;
  for (const auto& e : info.payload.entries) names.push_back(e.path);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"VMSkin\\login.bmp", u"ZepClient.exe", u"a_small.txt",
                                                 u"empty.dat", u"m_noise.bin", u"z_text.log"}));
  EXPECT_EQ(info.payload.entries[4].streamSize, noise.size() + 13);
  EXPECT_LT(info.payload.entries[5].streamSize, text.size() / 10);
  std::ostringstream out;
  ASSERT_TRUE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, out, error)) << error;
  // Decoded content equals the files.
  const Bytes pkg = ReadFile(dir / "package.exe");
  const auto& t = info.payload.entries[5];
  Bytes decoded;
  ASSERT_EQ(package::DecodeStreamToVector(&pkg[info.payloadOffset + t.streamOffset], t.streamSize, decoded),
            static_cast<int64_t>(text.size()));
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), text.begin(),
                         [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));
  // Other levels give other streams of the same content; nothing is left beside the package.
  for (unsigned level : {0u, 9u}) {
    mkpackage::BuildOptions o;
    o.manifestPath = (dir / "manifest.json").string();
    o.filesDir = (dir / "files").string();
    o.stubPath = (dir / "stub.exe").string();
    o.outputPath = (dir / "level.exe").string();
    o.level = level;
    mkpackage::BuildSummary s;
    ASSERT_TRUE(mkpackage::BuildPackage(o, s, error)) << error;
    ASSERT_TRUE(mkpackage::ReadPackage((dir / "level.exe").string(), info, error)) << error;
    EXPECT_TRUE(mkpackage::VerifyPackage((dir / "level.exe").string(), info, out, error)) << error;
  }
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.path().filename().string().find("part") != std::string::npos;
  EXPECT_EQ(entries, 0u);
}

TEST(MkPackageCommandLine, HelpVersionAndUsageErrors) {
  const std::string tool = VC_MKPACKAGE;
  auto run = [&](const std::string& args, std::string& out, std::string& err) {
    const std::string o = fs::temp_directory_path() / ("mkp_out_" + std::to_string(::getpid()));
    const std::string e = o + ".err";
    const int status = std::system((tool + " " + args + " >" + o + " 2>" + e).c_str());
    std::ifstream fo(o), fe(e);
    out.assign(std::istreambuf_iterator<char>(fo), {});
    err.assign(std::istreambuf_iterator<char>(fe), {});
    fs::remove(o);
    fs::remove(e);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::string out, err;
  EXPECT_EQ(run("--help", out, err), 0);
  EXPECT_NE(out.find("usage:"), std::string::npos);
  EXPECT_EQ(err, "");
  EXPECT_EQ(run("--version", out, err), 0);
  EXPECT_EQ(out.rfind("mkpackage ", 0), 0u);
  for (const char* bad : {"", "frobnicate", "build --threads abc", "build --threads 99999999999999999999",
                          "build --threads 0", "build --level 10", "build --level", "build --bogus", "info",
                          "build --manifest m.json"}) {
    EXPECT_EQ(run(bad, out, err), 2) << bad;
    EXPECT_EQ(out, "") << bad;
    EXPECT_NE(err.find("usage:"), std::string::npos) << bad;
  }
}
