#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "base/le_int.h"
#include "setup/package/instance_marker.h"
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
