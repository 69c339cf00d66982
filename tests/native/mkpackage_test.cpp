#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "base/fixed_field.h"
#include "base/le_int.h"
#include "base/utf16.h"
#include "setup/package/instance_marker.h"
#include "setup/package/lzma_encoder.h"
#include "setup/package/lzma_stream.h"
#include "tools/mkpackage/manifest.h"
#include "base/memory_budget.h"
#include "tools/mkpackage/package_builder.h"
#include "tools/mkpackage/package_extractor.h"
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

void WriteBytes(const fs::path& p, const Bytes& bytes) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Every file (with its bytes) and folder (with "/") below `root`.
std::map<std::string, Bytes> Tree(const fs::path& root) {
  std::map<std::string, Bytes> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().lexically_relative(root).generic_string();
    if (e.is_directory())
      tree[name + "/"];
    else
      tree[name] = ReadFile(e.path());
  }
  return tree;
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
    o.captionFallback = captionFallback;
    o.notice = [this](const std::string& line) { notices.push_back(line); };
    mkpackage::BuildSummary s;
    return mkpackage::BuildPackage(o, s, error);
  }

  // Extracts dir/package.exe into `out`; the error, empty when it succeeded.
  std::string Extract(const fs::path& out) {
    mkpackage::ExtractOptions o;
    o.packagePath = (dir / "package.exe").string();
    o.dir = out.string();
    std::string error;
    const bool ok = mkpackage::ExtractPackage(o, extracted, error);
    EXPECT_EQ(ok, error.empty()) << error;
    return error;
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
  std::string captionFallback;
  std::vector<std::string> notices;
  mkpackage::ExtractSummary extracted;
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
  // Lines in payload order whatever the threads.
  std::ostringstream out, threaded;
  EXPECT_TRUE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, out, error, 1)) << error;
  EXPECT_TRUE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, threaded, error, 3)) << error;
  EXPECT_EQ(threaded.str(), out.str());
  EXPECT_EQ(out.str().find("ok  VMSkin\\login.bmp"), 0u) << out.str();

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
  for (unsigned threads : {1u, 3u}) {
    std::ostringstream out;
    EXPECT_FALSE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, out, error, threads));
    EXPECT_NE(error.find("ZepClient.exe"), std::string::npos) << error;
    EXPECT_EQ(out.str().find("ok  VMSkin"), 0u) << out.str();
  }
  // A bad entry before it is the one named: a stored stream declaring more than it holds.
  pkg[info.payloadOffset + info.payload.entries[0].streamOffset + 5] = 0x40;
  std::ofstream(dir / "package.exe", std::ios::binary).write(reinterpret_cast<char*>(pkg.data()), pkg.size());
  for (unsigned threads : {1u, 3u}) {
    std::ostringstream out;
    EXPECT_FALSE(mkpackage::VerifyPackage((dir / "package.exe").string(), info, out, error, threads));
    EXPECT_NE(error.find("login.bmp"), std::string::npos) << error;
    EXPECT_EQ(out.str(), "");
  }
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
  // The budget decides whether the two largest files are compressed side by
  // side (the text takes long enough for a second worker to start the noise
  // beside it; tiny files may pair up under any budget), never the bytes.
  const uint64_t twoLargest = package::EncoderMemory(package::kDefaultLevel, text.size()) +
                              package::EncoderMemory(package::kDefaultLevel, noise.size());
  const struct {
    unsigned threads;
    uint64_t memory;
    bool sideBySide;
  } runs[] = {{1, 0, false}, {2, 1ull << 30, true}, {2, vx::kMinMemoryBudget, false}, {4, 0, true}};
  for (const auto& run : runs) {
    mkpackage::BuildOptions o;
    o.manifestPath = (dir / "manifest.json").string();
    o.filesDir = (dir / "files").string();
    o.stubPath = (dir / "stub.exe").string();
    o.outputPath = (dir / "package.exe").string();
    o.threads = run.threads;
    o.memory = run.memory;
    mkpackage::BuildSummary s;
    ASSERT_TRUE(mkpackage::BuildPackage(o, s, error)) << error;
    EXPECT_EQ(s.stored, 3u);  // the noise and the two tiny files
    EXPECT_EQ(s.memoryBudget, run.memory ? run.memory : vx::MemoryBudgetFor(vx::PhysicalMemory()));
    EXPECT_EQ(s.encoderMemory >= twoLargest, run.sideBySide) << run.threads << " workers, budget " << run.memory;
    if (run.threads == 1) EXPECT_EQ(s.mostEncodersAtOnce, 1u);
    const Bytes pkg = ReadFile(dir / "package.exe");
    if (first.empty()) first = pkg;
    EXPECT_TRUE(pkg == first) << run.threads << " workers, budget " << run.memory << " give other bytes";
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

TEST_F(MkPackage, ExtractGivesBackTheSampleAndDeepCjkTreesByteForByte) {
  // The sample product's files and manifest.
  const fs::path sample = dir / "sample";
  const fs::path makeSample = fs::path(VC_MKPACKAGE).parent_path() / "make_sample_files";
  ASSERT_EQ(std::system((makeSample.string() + " " + sample.string()).c_str()), 0);
  // Deep folders and files with Chinese and Japanese names, a larger file.
  fs::path deep = dir / "files";
  for (int i = 0; i < 12; ++i) deep /= std::string(i % 2 ? "データ" : "视频会议") + std::to_string(i);
  WriteFile(deep / "設定ファイル.ini", "[設定]\r\nサーバー=会议\r\n");
  std::string big;
  while (big.size() < (3u << 20)) big += "会议记录 " + std::to_string(big.size() % 977) + "\n";
  WriteFile(dir / "files" / "会议" / "ビデオ会議.log", big);
  std::string cjkManifest = kManifest;
  cjkManifest.replace(cjkManifest.find("[\"logs\"]"), 8, "[\"logs\", \"会议/記録\", \"日志\", \"日志/ログ/深い\"]");
  struct Case {
    fs::path files;
    std::string manifest;
    std::vector<std::string> extraFolders;
  };
  const fs::path sampleManifest = fs::path(__FILE__).parent_path() / "../../tools/sample/manifest.json";
  for (const Case& c : {Case{sample, std::string(), {}},
                        // One folder each, as the setup program makes them: not one whose parent is missing.
                        Case{dir / "files", cjkManifest, {"logs/", "会议/記録/", "日志/"}}}) {
    if (c.manifest.empty())
      fs::copy_file(sampleManifest, dir / "manifest.json", fs::copy_options::overwrite_existing);
    else
      WriteFile(dir / "manifest.json", c.manifest);
    mkpackage::BuildOptions o;
    o.manifestPath = (dir / "manifest.json").string();
    o.filesDir = c.files.string();
    o.stubPath = (dir / "stub.exe").string();
    o.outputPath = (dir / "package.exe").string();
    o.level = 1;
    mkpackage::BuildSummary built;
    std::string error;
    ASSERT_TRUE(mkpackage::BuildPackage(o, built, error)) << error;
    const fs::path out = dir / "out" / c.files.filename();
    EXPECT_EQ(Extract(out), "");
    auto expected = Tree(c.files);
    for (const auto& folder : c.extraFolders) expected[folder];
    const auto got = Tree(out);
    EXPECT_EQ(got.size(), expected.size()) << c.files;
    EXPECT_TRUE(got == expected) << c.files;
    // Over what is already there: the same again.
    EXPECT_EQ(Extract(out), "");
    EXPECT_TRUE(Tree(out) == got) << c.files;
  }
}

TEST_F(MkPackage, ExtractRefusesPathsLeavingTheFolderAndWritesNothingOutside) {
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  const Bytes intact = ReadFile(dir / "package.exe");
  const size_t secondPath = info.payloadOffset + info.payload.entries[1].streamOffset - 524;
  const size_t extraFolder = intact.size() - package::kPathFieldSize;
  const fs::path out = dir / "a" / "b" / "out";
  const std::string unique = "mkpackage_evil_" + std::to_string(::getpid());
  struct Case {
    size_t at;
    std::u16string path;
    const char* named;
  };
  const std::u16string evil = vx::Utf8ToUtf16(unique);
  for (const Case& c : {Case{secondPath, u"..\\" + evil, "entry 2 of 3"},
                        Case{secondPath, u"x\\..\\..\\" + evil, "entry 2"},
                        Case{secondPath, u"C:\\" + evil, "entry 2"}, Case{secondPath, u"C:" + evil, "entry 2"},
                        Case{secondPath, u"\\" + evil, "entry 2"}, Case{secondPath, u"/" + evil, "entry 2"},
                        Case{secondPath, u"\\\\server\\share\\" + evil, "entry 2"},
                        Case{extraFolder, u"..\\..\\" + evil, "ExtraFolders entry 1 of 1"}}) {
    Bytes pkg = intact;
    ASSERT_TRUE(vx::EncodeFixedField(c.path, package::kPathFieldSize, &pkg[c.at]));
    WriteBytes(dir / "package.exe", pkg);
    fs::remove_all(dir / "a");
    error = Extract(out);
    const std::string shown = vx::Utf16ToUtf8(c.path);
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_NE(error.find("\"" + shown + "\": refused"), std::string::npos) << error;
    // Only what lies inside: the entries before a refused one, every file before a refused folder.
    auto inside = std::map<std::string, Bytes>{{"b/", {}}, {"b/out/", {}}, {"b/out/VMSkin/", {}},
                                               {"b/out/VMSkin/login.bmp", ReadFile(dir / "files/VMSkin/login.bmp")}};
    if (c.at == extraFolder)
      inside.insert({{"b/out/ZepClient.exe", ReadFile(dir / "files/ZepClient.exe")}, {"b/out/empty.dat", {}}});
    EXPECT_TRUE(Tree(dir / "a") == inside) << shown;
    EXPECT_FALSE(fs::exists("/" + unique));
    EXPECT_FALSE(fs::exists(dir / unique));
    // The listing shows it refused and fails the same way.
    ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
    std::ostringstream listing;
    EXPECT_FALSE(mkpackage::ListPayload(info, listing, error));
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_NE(listing.str().find(shown + "  (refused)"), std::string::npos) << listing.str();
  }

  // A link inside the folder is not followed.
  WriteBytes(dir / "package.exe", intact);
  fs::remove_all(dir / "a");
  fs::create_directories(out);
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", out / "VMSkin");
  error = Extract(out);
  EXPECT_NE(error.find("entry 1 of 3 \"VMSkin\\login.bmp\""), std::string::npos) << error;
  EXPECT_NE(error.find("is a link"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

TEST_F(MkPackage, ExtractOfADamagedPackageNamesTheEntryAndLeavesNoHalfFile) {
  std::string text;
  while (text.size() < (2u << 20)) text += "client log line " + std::to_string(text.size() % 7919) + "\n";
  WriteFile(dir / "files" / "ZepClient.exe", text);
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  const Bytes intact = ReadFile(dir / "package.exe");
  const auto& zep = info.payload.entries[1];
  const size_t stream = info.payloadOffset + zep.streamOffset;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* error;
    bool zepWritten;
  };
  const Case cases[] = {
      {"corrupt stream", [&](Bytes& p) { for (size_t i = 20; i < zep.streamSize; i += 5) p[stream + i] ^= 0x33; },
       "entry 2 of 3 \"ZepClient.exe\": the stream cannot be decoded", false},
      {"cut in the stream", [&](Bytes& p) { p.resize(stream + zep.streamSize / 2); },
       "entry 2 of 3 \"ZepClient.exe\": the stream cannot be decoded", false},
      {"cut in the length", [&](Bytes& p) { p.resize(stream - 2); },
       "the package ends inside entry 2 of 3 \"ZepClient.exe\"", false},
      {"cut in the path", [&](Bytes& p) { p.resize(stream - 100); },
       "the package ends after entry 1 of 3 \"VMSkin\\login.bmp\"", false},
      {"cut in the extra folders", [&](Bytes& p) { p.resize(p.size() - 10); },
       "the package ends inside ExtraFolders entry 1 of 1", true},
  };
  for (const Case& c : cases) {
    Bytes pkg = intact;
    c.damage(pkg);
    WriteBytes(dir / "package.exe", pkg);
    fs::remove_all(dir / "out");
    EXPECT_NE(Extract(dir / "out").find(c.error), std::string::npos) << c.what;
    // Complete or absent, nothing under a temporary name.
    auto expected = std::map<std::string, Bytes>{{"VMSkin/", {}},
                                                 {"VMSkin/login.bmp", ReadFile(dir / "files/VMSkin/login.bmp")}};
    if (c.zepWritten) expected.insert({{"ZepClient.exe", ReadFile(dir / "files/ZepClient.exe")}, {"empty.dat", {}}});
    EXPECT_TRUE(Tree(dir / "out") == expected) << c.what;
    EXPECT_EQ(extracted.files, c.zepWritten ? 3u : 1u) << c.what;
    EXPECT_EQ(extracted.bytes, 6 + (c.zepWritten ? text.size() : 0)) << c.what;
  }
  // Over an earlier extraction the file keeps its complete earlier content.
  WriteBytes(dir / "package.exe", intact);
  EXPECT_EQ(Extract(dir / "out"), "");
  Bytes corrupt = intact;
  cases[0].damage(corrupt);
  WriteBytes(dir / "package.exe", corrupt);
  EXPECT_NE(Extract(dir / "out").find(cases[0].error), std::string::npos);
  EXPECT_TRUE(ReadFile(dir / "out/ZepClient.exe") == ReadFile(dir / "files/ZepClient.exe"));
}

TEST_F(MkPackage, ListPrintsThePayloadTable) {
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  std::ostringstream out;
  EXPECT_TRUE(mkpackage::ListPayload(info, out, error)) << error;
  EXPECT_NE(out.str().find("PackageKind \"V4.0\", 3 files, 50006 bytes, 1 extra folders"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("     50000"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("lzma    ZepClient.exe\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("stored  VMSkin\\login.bmp\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("empty   empty.dat\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("folder                      logs\n"), std::string::npos) << out.str();
}

TEST_F(MkPackage, ShortcutsWithoutACaptionInAnInstallLanguageAreRefusedOrFilledFromTheFallback) {
  // The reported product: Chinese captions only, installable in every language.
  const std::string gbOnly = R"({"PackageKind": "V4.0", "DefaultLanguage": 0,
      "ProgramGroup": {"Gb": "g", "Big5": "g", "En": "g", "Jp": "g"},
      "ProgramGroupShortcuts": [{"CaptionGb": "客户端", "Target": "ZepClient.exe"}],
      "DesktopShortcuts": [{"CaptionGb": "客户端", "CaptionBig5": "客戶端", "CaptionEn": "Client",
                            "CaptionJp": "クライアント", "Target": "ZepClient.exe"}],
      "QuickLaunchShortcuts": [{"CaptionGb": "客户端", "CaptionEn": "Client", "Target": "ZepClient.exe"}]})";
  auto with = [&](const std::string& from, const std::string& to) {
    std::string m = gbOnly;
    return m.replace(m.find(from), from.size(), to);
  };
  struct Case {
    std::string manifest, fallback;
    std::vector<std::string> named, notNamed;
  };
  const Case refused[] = {
      {gbOnly, "",
       {"ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): no CaptionBig5 (traditional Chinese)",
        "ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): no CaptionEn (English)",
        "ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): no CaptionJp (Japanese)",
        "QuickLaunchShortcuts[0] (Target \"ZepClient.exe\"): no CaptionJp", "--caption-fallback"},
       {"CaptionGb (", "DesktopShortcuts", "QuickLaunchShortcuts[0] (Target \"ZepClient.exe\"): no CaptionEn"}},
      // A language page that is hidden still leaves the system's language (7 fixes none).
      {with("\"DefaultLanguage\": 0", "\"DefaultLanguage\": 7"), "", {"ProgramGroupShortcuts[0]", "(Japanese)"}, {}},
      // Only the one language DefaultLanguage fixes counts.
      {with("\"DefaultLanguage\": 0", "\"DefaultLanguage\": 4"), "",
       {"ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): no CaptionJp (Japanese)", "QuickLaunchShortcuts[0]"},
       {"CaptionEn (", "CaptionBig5 ("}},
      {gbOnly, "En",
       {"ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): no CaptionBig5 (traditional Chinese), and no "
        "CaptionEn to fill it from"},
       {"QuickLaunchShortcuts"}},
      {with("\"CaptionGb\": \"客户端\", \"Target\"",
            "\"CaptionGb\": \"客户端\", \"CaptionEn\": \"" + std::string(120, 'x') + "\", \"Target\""),
       "En", {"no CaptionBig5 (traditional Chinese), and CaptionEn is too long for it (120 characters, at most 99)"},
       {}},
      {gbOnly, "Fr", {"--caption-fallback \"Fr\""}, {}},
  };
  for (const Case& c : refused) {
    captionFallback = c.fallback;
    const std::string error = BuildError(c.manifest);
    for (const auto& n : c.named) EXPECT_NE(error.find(n), std::string::npos) << n << "\n" << error;
    for (const auto& n : c.notNamed) EXPECT_EQ(error.find(n), std::string::npos) << n << "\n" << error;
  }

  captionFallback = "Gb";
  WriteFile(dir / "manifest.json", gbOnly);
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  mkpackage::PackageInfo info;
  ASSERT_TRUE(mkpackage::ReadPackage((dir / "package.exe").string(), info, error)) << error;
  const auto& group = info.header.ProgramGroupShortcuts[0];
  EXPECT_EQ(group.CaptionBig5, u"客户端");
  EXPECT_EQ(group.CaptionEn, u"客户端");
  EXPECT_EQ(group.CaptionJp, u"客户端");
  EXPECT_EQ(info.header.QuickLaunchShortcuts[0].CaptionEn, u"Client");  // given ones stay
  EXPECT_EQ(info.header.DesktopShortcuts[0].CaptionJp, u"クライアント");
  EXPECT_EQ(notices, (std::vector<std::string>{
                         "ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): CaptionBig5 (traditional Chinese) "
                         "filled from CaptionGb \"客户端\"",
                         "ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): CaptionEn (English) filled from "
                         "CaptionGb \"客户端\"",
                         "ProgramGroupShortcuts[0] (Target \"ZepClient.exe\"): CaptionJp (Japanese) filled from "
                         "CaptionGb \"客户端\"",
                         "QuickLaunchShortcuts[0] (Target \"ZepClient.exe\"): CaptionBig5 (traditional Chinese) "
                         "filled from CaptionGb \"客户端\"",
                         "QuickLaunchShortcuts[0] (Target \"ZepClient.exe\"): CaptionJp (Japanese) filled from "
                         "CaptionGb \"客户端\""}));
}

TEST_F(MkPackage, TargetsAndMainExeMissingFromTheFilesAreWarnedOfInOfflinePackagesOnly) {
  WriteFile(dir / "manifest.json", R"({"PackageKind": "V4.0", "DefaultLanguage": 3, "MainExe": "Main.exe",
      "ProgramGroup": {"En": "g"},
      "ProgramGroupShortcuts": [{"CaptionEn": "a", "Target": "zepclient.EXE"},
                                {"CaptionEn": "b", "Target": "VMSkin/Login.bmp"},
                                {"CaptionEn": "c", "Target": "missing.exe"},
                                {"CaptionEn": "d", "Target": "uninstall.exe"}],
      "DesktopShortcuts": [{"CaptionEn": "e", "Target": "VMSkin\\gone.bmp"}]})");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  EXPECT_EQ(notices, (std::vector<std::string>{
                         "warning: MainExe \"Main.exe\" is not among the packed files",
                         "warning: ProgramGroupShortcuts[2].Target \"missing.exe\" is not among the packed files",
                         "warning: DesktopShortcuts[0].Target \"VMSkin\\gone.bmp\" is not among the packed files"}));
  notices.clear();
  mkpackage::BuildOptions o;
  o.manifestPath = (dir / "manifest.json").string();
  o.stubPath = (dir / "stub.exe").string();
  o.outputPath = (dir / "online.exe").string();
  o.onlineServers = "update.example:17800";
  o.notice = [this](const std::string& line) { notices.push_back(line); };
  mkpackage::BuildSummary s;
  ASSERT_TRUE(mkpackage::BuildPackage(o, s, error)) << error;
  EXPECT_TRUE(notices.empty());
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
  EXPECT_EQ(run("extract --help", out, err), 0);
  EXPECT_NE(out.find("mkpackage extract PACKAGE DIR"), std::string::npos);
  EXPECT_EQ(run("--version", out, err), 0);
  EXPECT_EQ(out.rfind("mkpackage ", 0), 0u);
  for (const char* bad : {"", "frobnicate", "build --threads abc", "build --threads 99999999999999999999",
                          "build --threads 0", "build --level 10", "build --level", "build --bogus", "info",
                          "build --manifest m.json", "build --caption-fallback Fr", "extract", "extract p.exe",
                          "extract --list", "extract --list p.exe out", "extract --bogus p.exe out",
                          "build --memory", "build --memory 15M", "build --memory 1.5G", "build --memory -1G",
                          "build --memory 2T", "build --memory 99999999999999999999G"}) {
    EXPECT_EQ(run(bad, out, err), 2) << bad;
    EXPECT_EQ(out, "") << bad;
    EXPECT_NE(err.find("usage:"), std::string::npos) << bad;
  }
}

TEST(MkPackageCommandLine, MemorySizesAndTheDefaultBudget) {
  const struct {
    const char* text;
    uint64_t bytes;  // 0: refused
  } sizes[] = {{"16M", 16ull << 20}, {"512m", 512ull << 20}, {"2G", 2ull << 30}, {"65536K", 64ull << 20},
               {"16777216", 16ull << 20}, {"16777215", 0}, {"15M", 0}, {"", 0}, {"G", 0}, {"+1G", 0},
               {" 1G", 0}, {"1 G", 0}, {"1GB", 0}, {"17179869184G", 0}};
  for (const auto& size : sizes) {
    uint64_t bytes = 0;
    EXPECT_EQ(vx::ParseMemorySize(size.text, bytes), size.bytes != 0) << size.text;
    if (size.bytes) EXPECT_EQ(bytes, size.bytes) << size.text;
  }
  EXPECT_EQ(vx::MemoryBudgetFor(24ull << 30), 2ull << 30);
  EXPECT_EQ(vx::MemoryBudgetFor(4ull << 30), 1ull << 30);
  EXPECT_EQ(vx::MemoryBudgetFor(0), 256ull << 20);
  EXPECT_GT(vx::PhysicalMemory(), 0u);
}
