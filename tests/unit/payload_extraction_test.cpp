#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "base/le_int.h"
#include "base/utf16.h"
#include "setup/package/lzma_stream.h"
#include "setup/package/payload_table.h"
#include "setup/install/ordered_status_sink.h"
#include "setup/install/payload_extraction.h"
#include "setup/uninstall/image_signature.h"
#include "setup/uninstall/uninstall_record.h"
#include "setup/uninstall/uninstaller_writer.h"
#include "setup/wizard/wizard_extraction_reporter.h"
#include "tests/support/record_bytes.h"

using namespace setup;
using Bytes = std::vector<uint8_t>;

namespace {

// A file system in memory: directories end with a backslash.
class MemoryFileSystem : public InstallFileSystem {
 public:
  class Package : public PackageFile {
   public:
    explicit Package(const Bytes& data) : m_data(data) {}
    size_t Read(void* out, size_t n) override {
      const size_t k = std::min(n, m_data.size() - m_pos);
      std::copy_n(m_data.begin() + m_pos, k, static_cast<uint8_t*>(out));
      m_pos += k;
      return k;
    }
    bool Seek(uint64_t offset) override {
      if (offset > m_data.size()) return false;
      m_pos = size_t(offset);
      return true;
    }
    uint64_t Tell() override { return m_pos; }
    bool AtEnd() override { return m_pos >= m_data.size(); }

   private:
    const Bytes& m_data;
    size_t m_pos = 0;
  };

  class Target : public TargetFile {
   public:
    Target(MemoryFileSystem& fs, std::u16string path) : m_fs(fs), m_path(std::move(path)) {}
    bool Write(const uint8_t* data, size_t size) override {
      Bytes& f = m_fs.files[m_path];
      if (m_fs.diskSpace < f.size() + size) return false;
      f.insert(f.end(), data, data + size);
      m_fs.largestWrite = std::max(m_fs.largestWrite, size);
      return true;
    }
    bool Close() override { return true; }

   private:
    MemoryFileSystem& m_fs;
    std::u16string m_path;
  };

  Bytes package;
  bool packageMissing = false;
  std::map<std::u16string, Bytes> files;
  std::set<std::u16string> dirs{u"C:\\"};
  std::set<std::u16string> inUse, unwritable, cleared, lookedUp;
  std::u16string failingDir;
  size_t diskSpace = SIZE_MAX;
  size_t largestWrite = 0;

  int opensLeft = -1;  // then every open fails; -1: no limit
  int directoryCalls = 0;

  std::unique_ptr<PackageFile> OpenPackage() override {
    if (packageMissing || opensLeft == 0) return nullptr;
    if (opensLeft > 0) --opensLeft;
    return std::make_unique<Package>(package);
  }
  std::u16string PackagePath() override { return u"C:\\setup.exe"; }
  bool Exists(const std::u16string& p) override {
    lookedUp.insert(p);
    return files.count(p) || dirs.count(p) || dirs.count(p + u"\\");
  }
  DirectoryResult MakeDirectory(const std::u16string& p) override {
    ++directoryCalls;
    if (p == failingDir) return DirectoryResult::Failed;
    return dirs.insert(p).second ? DirectoryResult::Created : DirectoryResult::AlreadyExists;
  }
  void ClearAttributes(const std::u16string& p) override { cleared.insert(p); }
  bool InUse(const std::u16string& p) override { return inUse.count(p) > 0; }
  std::unique_ptr<TargetFile> OpenForWrite(const std::u16string& p) override {
    if (unwritable.count(p)) return nullptr;
    files[p].clear();
    return std::make_unique<Target>(*this, p);
  }
  void Delete(const std::u16string& p) override { files.erase(p); }
  bool RemoveEmptyFolder(const std::u16string& p) override {
    const std::u16string d = p.back() == u'\\' ? p : p + u'\\';
    const auto inside = [&](const std::u16string& x) { return x != d && x.rfind(d, 0) == 0; };
    for (const auto& [f, b] : files)
      if (inside(f)) return false;
    for (const auto& x : dirs)
      if (inside(x)) return false;
    return dirs.erase(d) > 0;
  }
};

struct Codes : StatusSink {
  std::vector<std::pair<uint32_t, std::u16string>> seen;
  void Report(uint32_t code) override { seen.emplace_back(code, u""); }
  void Report(uint32_t code, const std::u16string& a) override { seen.emplace_back(code, a); }
  std::vector<uint32_t> List() const {
    std::vector<uint32_t> out;
    for (auto& [c, a] : seen) out.push_back(c);
    return out;
  }
};

struct Entry {
  std::u16string path;
  Bytes stream;
};

Bytes Encode(const std::string& text) {
  return package::EncodeStream(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

Bytes Payload(const std::vector<Entry>& entries, const std::vector<std::u16string>& extra = {}) {
  package::PayloadWriter w;
  std::string error;
  EXPECT_TRUE(w.Begin(uint32_t(entries.size()), u"V4.0", error));
  for (const auto& e : entries) EXPECT_TRUE(w.AddEntry(e.path, e.stream, error)) << error;
  EXPECT_TRUE(w.End(extra, error));
  return w.Take();
}

// A raw entry, for paths the writer would refuse.
void AppendRawEntry(Bytes& payload, const std::u16string& path, const Bytes& stream) {
  const size_t at = payload.size();
  payload.resize(at + 520 + 4);
  for (size_t i = 0; i < path.size(); ++i) vx::WriteLE16(&payload[at + 2 * i], path[i]);
  vx::WriteLE32(&payload[at + 520], uint32_t(stream.size()));
  payload.insert(payload.end(), stream.begin(), stream.end());
}

class Extraction : public ::testing::Test {
 protected:
  MemoryFileSystem fs;
  Codes codes;
  SetupState s;
  DecodeAhead ahead;

  bool Run(const Bytes& payload, const std::u16string& installDir = u"C:\\App") {
    DrivenExtractionReporter reporter(codes);
    return RunWith(reporter, payload, installDir);
  }
  bool RunWith(ExtractionReporter& reporter, const Bytes& payload, const std::u16string& installDir = u"C:\\App") {
    fs.package = Bytes(100, 0xCC);  // stands for the program and header
    fs.package.insert(fs.package.end(), payload.begin(), payload.end());
    s.InstallDir = installDir;
    std::unique_ptr<PackageFile> package;
    return ExtractPayload(fs, s, 100, reporter, package, ahead);
  }
  void FailuresWhileDecodingAhead();
  std::string File(const std::u16string& p) {
    const Bytes& b = fs.files.at(p);
    return std::string(b.begin(), b.end());
  }
};

}  // namespace

TEST_F(Extraction, InstallsEveryKindOfEntryWithTheDrivenCodesInOrder) {
  const std::string big(300000, 'q');
  ASSERT_TRUE(Run(Payload({{u"main.exe", Encode("MZ program")},
                           {u"empty.dat", {}},
                           {u"VMSkin\\login.bmp", Encode("BM bitmap")},
                           {u"VMSkin\\logo.bmp", package::StoreStream((const uint8_t*)"raw", 3)},
                           {u"big.bin", Encode(big)}},
                          {u"log", u"data\\cache"})));
  EXPECT_EQ(codes.List(), (std::vector<uint32_t>{0x50001, 0x50003, 0x50003, 0x50002, 0x50003, 0x50003, 0x50003}));
  EXPECT_EQ(codes.seen[0].second, u"C:\\App\\");
  EXPECT_EQ(codes.seen[3].second, u"C:\\App\\VMSkin\\");  // created once
  EXPECT_EQ(codes.seen[4].second, u"C:\\App\\VMSkin\\login.bmp");
  EXPECT_EQ(File(u"C:\\App\\main.exe"), "MZ program");
  EXPECT_EQ(File(u"C:\\App\\empty.dat"), "");
  EXPECT_EQ(File(u"C:\\App\\VMSkin\\logo.bmp"), "raw");
  EXPECT_EQ(File(u"C:\\App\\big.bin"), big);
  EXPECT_TRUE(fs.dirs.count(u"C:\\App\\log") && fs.dirs.count(u"C:\\App\\data\\cache"));
  EXPECT_EQ(s.FileCount, 5u);
  EXPECT_EQ(s.PackageKind, u"V4.0");
  EXPECT_EQ(s.InstalledFiles.size(), 5u);
  EXPECT_EQ(s.InstalledFiles[2], u"VMSkin\\login.bmp");
  EXPECT_EQ(s.InstallDir, u"C:\\App\\");
}

TEST_F(Extraction, HighRatioStreamDecodesInBoundedPieces) {
  // 16 MiB of zeros: far beyond ten times its stream, written piece by piece.
  const std::string zeros(16u << 20, '\0');
  const Bytes stream = Encode(zeros);
  ASSERT_LT(stream.size() * 100, zeros.size());
  ASSERT_TRUE(Run(Payload({{u"zeros.bin", stream}})));
  EXPECT_EQ(fs.files.at(u"C:\\App\\zeros.bin").size(), zeros.size());
  EXPECT_LE(fs.largestWrite, size_t(4u << 20));
}

TEST_F(Extraction, ExistingTargetsAreClearedAndInUseStops) {
  fs.files[u"C:\\App\\a.txt"] = {'o', 'l', 'd'};
  fs.dirs.insert(u"C:\\App\\");
  ASSERT_TRUE(Run(Payload({{u"a.txt", Encode("new")}})));
  EXPECT_TRUE(fs.cleared.count(u"C:\\App\\a.txt"));
  EXPECT_EQ(File(u"C:\\App\\a.txt"), "new");

  codes.seen.clear();
  fs.inUse.insert(u"C:\\App\\b.txt");
  fs.files[u"C:\\App\\b.txt"] = {'x'};
  EXPECT_FALSE(Run(Payload({{u"a.txt", Encode("1")}, {u"b.txt", Encode("2")}, {u"c.txt", Encode("3")}})));
  EXPECT_EQ(codes.seen.back(), std::make_pair(0x50103u, std::u16string(u"C:\\App\\b.txt")));
  EXPECT_EQ(File(u"C:\\App\\b.txt"), "x");
  EXPECT_FALSE(fs.files.count(u"C:\\App\\c.txt"));
  // A path is on the list before its file is written.
  EXPECT_EQ(s.InstalledFiles.back(), u"b.txt");
}

TEST_F(Extraction, UninstallerInUseStopsBeforeAnyFile) {
  fs.dirs.insert(u"C:\\App\\");
  fs.files[u"C:\\App\\uninstall.exe"] = {};
  fs.inUse.insert(u"C:\\App\\uninstall.exe");
  EXPECT_FALSE(Run(Payload({{u"a.txt", Encode("1")}})));
  EXPECT_EQ(codes.List(), (std::vector<uint32_t>{0x50001, 0x50103}));
}

TEST_F(Extraction, BadStreamsLeaveNoPartialFile) {
  Bytes corrupt = Encode(std::string(5000, 'a') + std::string(5000, 'b'));
  std::fill(corrupt.begin() + 13, corrupt.end(), 0xFF);
  EXPECT_FALSE(Run(Payload({{u"ok.txt", Encode("fine")}, {u"bad.bin", corrupt}, {u"next.txt", Encode("n")}})));
  EXPECT_EQ(codes.seen.back(), std::make_pair(0x50102u, std::u16string(u"C:\\App\\bad.bin")));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\bad.bin"));
  EXPECT_EQ(File(u"C:\\App\\ok.txt"), "fine");

  // A stream that decodes to nothing is a failure too (stored, 13 bytes).
  codes.seen.clear();
  EXPECT_FALSE(Run(Payload({{u"none.bin", package::StoreStream(nullptr, 0)}})));
  EXPECT_EQ(codes.seen.back().first, 0x50102u);
  EXPECT_FALSE(fs.files.count(u"C:\\App\\none.bin"));

  // A stream shorter than its own header.
  codes.seen.clear();
  EXPECT_FALSE(Run(Payload({{u"short.bin", Bytes{0x5D, 0, 0}}})));
  EXPECT_EQ(codes.seen.back().first, 0x50102u);
}

TEST_F(Extraction, ShortWriteIsAFailureAndDeletesTheTarget) {
  fs.diskSpace = 1000;
  EXPECT_FALSE(Run(Payload({{u"big.bin", Encode(std::string(5000, 'z'))}})));
  EXPECT_EQ(codes.seen.back(), std::make_pair(0x50102u, std::u16string(u"C:\\App\\big.bin")));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\big.bin"));
}

TEST_F(Extraction, PathsLeavingTheDestinationAreRefused) {
  for (const std::u16string path : {u"..\\evil.exe", u"C:\\Windows\\evil.exe", u"\\evil.exe", u"a\\..\\..\\b",
                                    u"D:evil", u""}) {
    codes.seen.clear();
    fs.files.clear();
    Bytes payload = Payload({{u"first.txt", Encode("1")}});
    // Replace the trailing extra-folder count by a raw entry and a new count.
    payload.resize(payload.size() - 4);
    vx::WriteLE32(&payload[0], 2);
    AppendRawEntry(payload, path, Encode("x"));
    payload.insert(payload.end(), 4, 0);
    EXPECT_FALSE(Run(payload));
    EXPECT_EQ(codes.seen.back().first, 0x50102u);
    EXPECT_EQ(fs.files.size(), 1u) << "only first.txt";
    for (const auto& d : fs.dirs) EXPECT_TRUE(d == u"C:\\" || d.rfind(u"C:\\App\\", 0) == 0);
  }
}

TEST_F(Extraction, TruncatedPackagesAndMissingFoldersStop) {
  const Bytes full = Payload({{u"a.txt", Encode("aaaa")}, {u"b.txt", Encode("bbbb")}});
  // Cut inside the second entry's stream, then right after the first entry.
  for (size_t cut : {full.size() - 10, size_t(4 + 200 + 520 + 4 + Encode("aaaa").size())}) {
    codes.seen.clear();
    fs.files.clear();
    EXPECT_FALSE(Run(Bytes(full.begin(), full.begin() + cut)));
    EXPECT_TRUE(codes.seen.back().first == 0x50101u || codes.seen.back().first == 0x50102u);
    EXPECT_FALSE(fs.files.count(u"C:\\App\\b.txt"));
  }
  // A payload shorter than its counts.
  codes.seen.clear();
  EXPECT_FALSE(Run(Bytes{1, 0}));
  EXPECT_EQ(codes.List(), std::vector<uint32_t>{0x50101});
  // A huge file count on a short payload ends at the package end.
  codes.seen.clear();
  Bytes huge = full;
  vx::WriteLE32(&huge[0], 0x7FFFFFFF);
  EXPECT_FALSE(Run(huge));
  EXPECT_EQ(codes.seen.back().first, 0x50101u);
  // The package cannot be opened.
  codes.seen.clear();
  fs.packageMissing = true;
  EXPECT_FALSE(Run(full));
  EXPECT_EQ(codes.List(), std::vector<uint32_t>{0x50101});
  fs.packageMissing = false;
  // An entry's folder cannot be created.
  codes.seen.clear();
  fs.failingDir = u"C:\\App\\sub\\";
  EXPECT_FALSE(Run(Payload({{u"sub\\x.txt", Encode("x")}})));
  EXPECT_EQ(codes.seen.back(), std::make_pair(0x50102u, std::u16string(u"C:\\App\\sub\\")));
  // The destination cannot be created.
  codes.seen.clear();
  fs.failingDir = u"C:\\Other\\";
  EXPECT_FALSE(Run(full, u"C:\\Other"));
  EXPECT_EQ(codes.List(), std::vector<uint32_t>{0x50102});
  EXPECT_EQ(codes.seen.back().second, u"C:\\Other\\");
}

TEST(MakeDirectoryPath, CreatesEachPrefixFromTheStartIndex) {
  MemoryFileSystem fs;
  std::u16string folder, rest;
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\B\\c.txt", 0, folder, rest), kDirectoryCreated);
  EXPECT_EQ(folder, u"C:\\A\\B\\");
  EXPECT_EQ(rest, u"c.txt");
  EXPECT_TRUE(fs.dirs.count(u"C:\\A\\"));
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\B\\d.txt", 0, folder, rest), kDirectoryExisted);
  // No folder part after the start index: nothing to create.
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\e.txt", 5, folder, rest), kDirectoryExisted);
  EXPECT_EQ(folder, u"C:\\A\\");
  EXPECT_EQ(rest, u"e.txt");
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\", 10, folder, rest), kDirectoryFailed);
  fs.failingDir = u"C:\\A\\F\\";
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\F\\g.txt", 5, folder, rest), kDirectoryFailed);

  // With a log each prefix is asked for once; what was made is kept, and the
  // results stay those of the file system.
  FolderLog log;
  fs.directoryCalls = 0;
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\G\\H\\i.txt", 5, folder, rest, &log), kDirectoryCreated);
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\G\\H\\j.txt", 5, folder, rest, &log), kDirectoryExisted);
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\G\\k.txt", 5, folder, rest, &log), kDirectoryExisted);
  EXPECT_EQ(folder, u"C:\\A\\G\\");
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\B\\l.txt", 5, folder, rest, &log), kDirectoryExisted);
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\F\\m.txt", 5, folder, rest, &log), kDirectoryFailed);
  EXPECT_EQ(MakeDirectoryPath(fs, u"C:\\A\\F\\n.txt", 5, folder, rest, &log), kDirectoryFailed);
  EXPECT_EQ(fs.directoryCalls, 5);
  EXPECT_EQ(log.created, (std::vector<std::u16string>{u"C:\\A\\G\\", u"C:\\A\\G\\H\\"}));
}

TEST(UninstallRecord, LayoutAndMarker) {
  SetupState s;
  s.ProductName = u"视频会议";
  s.header.ProductNameEn = u"Quorin";
  s.header.VersionLabel = u"V4.0";
  s.header.AutostartPrograms = {u"a.exe", u"b.exe"};
  s.InstallDir = u"C:\\App\\";
  s.FileCount = 2;
  s.InstalledFiles = {u"x.exe", u"sub\\y.dll"};
  s.Language = 2;
  s.CreatedDesktopShortcuts = {u"C:\\Desktop\\Quorin.lnk"};
  Bytes record;
  std::string error;
  ASSERT_TRUE(EncodeUninstallRecord(s, record, error)) << error;
  // Then the trailer: magic, count, the install-folder and component-kind entries.
  EXPECT_EQ(record.size(),
            kUninstallRecordFixedSize + 4 + 2 * 80 + 2 * 520 + (4 + 520) + 4 + (4 + 520) + 4 + 20 + 12);
  EXPECT_EQ(record[1280], 'C');
  EXPECT_EQ(vx::ReadLE16(&record[1280 + 12]), 0);  // "C:\App" without its backslash
  EXPECT_EQ(vx::ReadLE32(&record[1800]), 2u);
  EXPECT_EQ(vx::ReadLE32(&record[1804]), 2u);
  EXPECT_EQ(vx::ReadLE32(&record[1812]), 2u);
  // The list must match FileCount.
  s.FileCount = 3;
  EXPECT_FALSE(EncodeUninstallRecord(s, record, error));

  Bytes image(4096, 0);
  package::PatchMarkerGroup(image.data(), 1024, package::kFreshMarker, 0);
  EXPECT_FALSE(MarkAsUninstaller(image, package::kUpdateMarker, 4096));
  ASSERT_TRUE(MarkAsUninstaller(image, package::kFreshMarker, 4096));
  const auto group = package::FindMarkerGroup(image.data(), image.size());
  ASSERT_TRUE(group);
  EXPECT_EQ(group->pair, package::kUninstallerMarker);
  EXPECT_EQ(group->headerOffset, 4096u);
}

namespace {

// The progress page, recorded; prompts answered from a script.
struct FakeSurface : WizardSurface {
  std::vector<std::pair<uint16_t, std::u16string>> lines;
  std::vector<std::pair<uint32_t, std::u16string>> prompts;
  std::vector<int> answers;
  uint32_t range = 0, position = 0;
  size_t stopAfterLines = SIZE_MAX;  // the user cancels once this many lines are shown
  bool StopRequested() override { return lines.size() >= stopAfterLines; }
  void DetailLine(uint16_t key, std::u16string_view a) override { lines.emplace_back(key, std::u16string(a)); }
  void SetProgressRange(uint16_t upper) override { range = upper; }
  void SetProgressPosition(uint32_t p) override { position = p; }
  void AdvanceProgress(uint32_t step) override { position += step; }
  int Prompt(uint32_t code, std::u16string_view a) override {
    prompts.emplace_back(code, std::u16string(a));
    if (answers.empty()) return 2;  // Cancel
    const int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
};

}  // namespace

TEST(UninstallRecord, UninstallerIsTheImageTheRecordAndZerosToEightWithTheWholeFilesChecksum) {
  SetupState s;
  s.InstallDir = u"C:\\App\\";
  for (int i = 0; i < 301; ++i) s.InstalledFiles.push_back(u"f" + vx::Utf8ToUtf16(std::to_string(i)));  // > 64 KiB
  s.FileCount = uint32_t(s.InstalledFiles.size());
  const Bytes image = testing_support::SignedLookingImage();
  Bytes expected = image;
  ClearImageSignature(expected);
  const Bytes record = testing_support::EncodeRecord(s);
  expected.insert(expected.end(), record.begin(), record.end());
  expected.resize((expected.size() + 7) / 8 * 8, 0);
  ASSERT_TRUE(UpdateImageChecksum(expected));

  MemoryFileSystem fs;
  ASSERT_TRUE(WriteUninstaller(fs, s, u"C:\\App\\uninstall.exe", image, package::kFreshMarker));
  EXPECT_EQ(fs.files[u"C:\\App\\uninstall.exe"], expected);
  // A full disk or a record that cannot be made fails.
  fs.diskSpace = 4096;
  EXPECT_FALSE(WriteUninstaller(fs, s, u"C:\\App\\uninstall.exe", image, package::kFreshMarker));
  fs.diskSpace = SIZE_MAX;
  s.FileCount = 1;
  EXPECT_FALSE(WriteUninstaller(fs, s, u"C:\\App\\uninstall.exe", image, package::kFreshMarker));
}

TEST(UninstallRecord, ReadsBackWhatWasWrittenAndRefusesDamage) {
  SetupState s;
  s.ProductName = u"视频会议";
  s.header.ProductNameEn = u"Quorin";
  s.header.VersionLabel = u"V4.0";
  s.header.MainExe = u"ZepClient.exe";
  s.header.ProductID = u"{GUID}";
  s.header.BannerVariant = 1;
  s.header.AutostartPrograms = {u"a.exe"};
  s.InstallDir = u"C:\\App\\";
  s.FileCount = 2;
  s.InstalledFiles = {u"x.exe", u"sub\\y.dll"};
  s.Language = 4;
  s.ProgramGroupFolder = u"C:\\Programs\\Quorin";
  s.CreatedGroupShortcuts = {u"C:\\Programs\\Quorin\\a.lnk", u"C:\\Programs\\Quorin\\b.lnk"};
  s.CreatedQuickLaunchShortcuts = {u"C:\\QL\\Quorin.lnk"};
  Bytes record;
  std::string error;
  ASSERT_TRUE(EncodeUninstallRecord(s, record, error)) << error;

  SetupState back;
  ASSERT_TRUE(DecodeUninstallRecord(record.data(), record.size(), u"C:\\App", back, error)) << error;
  EXPECT_EQ(back.ProductName, s.ProductName);
  EXPECT_EQ(back.header.ProductNameEn, u"Quorin");
  EXPECT_EQ(back.header.MainExe, u"ZepClient.exe");
  EXPECT_EQ(back.header.ProductID, u"{GUID}");
  EXPECT_EQ(back.header.BannerVariant, 1);
  EXPECT_EQ(back.header.AutostartPrograms, s.header.AutostartPrograms);
  EXPECT_EQ(back.FileCount, 2u);
  EXPECT_EQ(back.InstalledFiles, s.InstalledFiles);
  EXPECT_EQ(back.Language, 4);
  EXPECT_EQ(back.ProgramGroupFolder, s.ProgramGroupFolder);
  EXPECT_EQ(back.CreatedGroupShortcuts, s.CreatedGroupShortcuts);
  EXPECT_TRUE(back.CreatedDesktopShortcuts.empty());
  EXPECT_EQ(back.CreatedQuickLaunchShortcuts, s.CreatedQuickLaunchShortcuts);

  // The folder named in another case is the same one; the record's spelling is kept.
  SetupState cased;
  ASSERT_TRUE(DecodeUninstallRecord(record.data(), record.size(), u"c:\\APP\\", cased, error)) << error;
  EXPECT_EQ(cased.InstallDir, u"C:\\App");

  // Another folder, a cut anywhere, or a count beyond the bytes.
  SetupState untouched;
  untouched.ProductName = u"kept";
  EXPECT_FALSE(DecodeUninstallRecord(record.data(), record.size(), u"C:\\Apps", untouched, error));
  for (size_t n = 0; n < record.size() - 20; n += 97)  // before the trailer
    EXPECT_FALSE(DecodeUninstallRecord(record.data(), n, u"C:\\App", untouched, error)) << n;
  for (size_t at : {size_t(1800), size_t(1812)}) {
    Bytes damaged = record;
    vx::WriteLE32(&damaged[at], 0x7FFFFFFF);
    EXPECT_FALSE(DecodeUninstallRecord(damaged.data(), damaged.size(), u"C:\\App", untouched, error)) << at;
    vx::WriteLE32(&damaged[at], 0xFFFFFFFF);
    EXPECT_FALSE(DecodeUninstallRecord(damaged.data(), damaged.size(), u"C:\\App", untouched, error)) << at;
  }
  EXPECT_EQ(untouched.ProductName, u"kept");
}

TEST_F(Extraction, WizardReporterLinesProgressAndWritePrompt) {
  FakeSurface page;
  WizardExtractionReporter reporter(page);
  fs.unwritable.insert(u"C:\\App\\sub\\b.txt");
  page.answers = {button::kRetry, button::kIgnore};
  ASSERT_TRUE(RunWith(reporter, Payload({{u"a.txt", Encode("a")}, {u"sub\\b.txt", Encode("b")}, {u"c.txt", Encode("c")}})));
  EXPECT_EQ(page.range, 103u);
  EXPECT_EQ(page.position, 13u);  // 10, then one per file written or skipped
  using Line = std::pair<uint16_t, std::u16string>;
  EXPECT_EQ(page.lines, (std::vector<Line>{{369, u"C:\\App\\"}, {377, u"a.txt"}, {375, u"C:\\App\\sub\\"},
                                          {379, u"b.txt"}, {377, u"c.txt"}}));
  ASSERT_EQ(page.prompts.size(), 2u);  // Retry asked again, then Ignore
  EXPECT_EQ(page.prompts[0], std::make_pair(0x50108u, std::u16string(u"C:\\App\\sub\\b.txt")));
  EXPECT_EQ(s.InstalledFiles, (std::vector<std::u16string>{u"a.txt", u"sub\\b.txt", u"c.txt"}));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\sub\\b.txt"));

  // Abort stops with the target's line.
  page = FakeSurface{};
  page.answers = {button::kAbort};
  EXPECT_FALSE(RunWith(reporter, Payload({{u"sub\\b.txt", Encode("b")}})));
  EXPECT_EQ(page.lines.back(), Line(371, u"C:\\App\\sub\\b.txt"));

  // The range keeps 16 bits; a bad stream prompts 0x50109 and writes 367.
  page = FakeSurface{};
  Bytes corrupt = Encode(std::string(3000, 'x'));
  std::fill(corrupt.begin() + 13, corrupt.end(), 0xFF);
  Bytes payload = Payload({{u"bad.bin", corrupt}});
  vx::WriteLE32(&payload[0], 65500);
  EXPECT_FALSE(RunWith(reporter, payload));
  EXPECT_EQ(page.range, uint32_t((65500 + 100) % 65536));
  EXPECT_EQ(page.prompts.back().first, 0x50109u);
  EXPECT_EQ(page.lines.back(), Line(367, u"C:\\App\\bad.bin"));

  // The own file: Retry opens again, Cancel stops.
  page = FakeSurface{};
  fs.packageMissing = true;
  page.answers = {button::kRetry};
  EXPECT_FALSE(RunWith(reporter, payload));
  EXPECT_EQ(page.prompts.size(), 2u);
  EXPECT_EQ(page.prompts[0], std::make_pair(0x40101u, std::u16string(u"C:\\setup.exe")));

  // An online run asks the same (Cancel stops it), and opens without a word.
  std::unique_ptr<PackageFile> own;
  page = FakeSurface{};
  EXPECT_FALSE(OpenPackageForOnlineRun(fs, s, reporter, own));
  EXPECT_EQ(page.prompts, (std::vector<std::pair<uint32_t, std::u16string>>{{0x40101u, u"C:\\setup.exe"}}));
  fs.packageMissing = false;
  page = FakeSurface{};
  s.InstallDir = u"C:\\App";
  EXPECT_TRUE(OpenPackageForOnlineRun(fs, s, reporter, own));
  EXPECT_TRUE(own);
  EXPECT_TRUE(page.prompts.empty() && page.lines.empty());
  EXPECT_EQ(s.InstallDir, u"C:\\App\\");
}

TEST_F(Extraction, CancelStopsBetweenFilesAndTakesBackWhatThisRunMade) {
  fs.dirs.insert(u"C:\\Old\\");
  fs.files[u"C:\\Old\\keep.txt"] = {'u'};  // the user's, overwritten by the package
  FakeSurface page;
  WizardExtractionReporter reporter(page);
  page.stopAfterLines = 5;  // output folder, keep.txt, a folder, a file, another file
  EXPECT_FALSE(RunWith(reporter, Payload({{u"keep.txt", Encode("k")},
                                          {u"new\\deep\\a.txt", Encode("a")},
                                          {u"b.txt", Encode("b")},
                                          {u"c.txt", Encode("c")}}),
                       u"C:\\Old"));
  EXPECT_EQ(page.lines.size(), 5u);  // nothing after the stop
  EXPECT_EQ(fs.files, (std::map<std::u16string, Bytes>{{u"C:\\Old\\keep.txt", {'k'}}}));
  EXPECT_EQ(fs.dirs, (std::set<std::u16string>{u"C:\\", u"C:\\Old\\"}));
  EXPECT_TRUE(s.InstalledFiles.empty());

  // A destination this run created goes too; its parent stays.
  page = FakeSurface{};
  page.stopAfterLines = 2;
  EXPECT_FALSE(RunWith(reporter, Payload({{u"a.txt", Encode("a")}, {u"b.txt", Encode("b")}}), u"C:\\Old\\New"));
  EXPECT_EQ(fs.dirs, (std::set<std::u16string>{u"C:\\", u"C:\\Old\\"}));
}

TEST_F(Extraction, RecordsTheFoldersItCreated) {
  fs.dirs.insert(u"C:\\Old\\");
  fs.dirs.insert(u"C:\\Old\\config\\");  // the user's, before the install
  ASSERT_TRUE(Run(Payload({{u"main.exe", Encode("MZ")},
                           {u"config\\a.ini", Encode("a")},
                           {u"VMSkin\\deep\\b.bmp", Encode("b")}},
                          {u"Logs", u"config\\"}),
                  u"C:\\Old"));
  EXPECT_FALSE(s.InstallDirCreated);
  EXPECT_TRUE(s.CreatedFoldersKnown);
  EXPECT_EQ(s.CreatedFolders, (std::vector<std::u16string>{u"VMSkin", u"VMSkin\\deep", u"Logs"}));
  // A target is looked up unless its folder is one the run made.
  EXPECT_TRUE(fs.lookedUp.count(u"C:\\Old\\main.exe") && fs.lookedUp.count(u"C:\\Old\\config\\a.ini"));
  EXPECT_FALSE(fs.lookedUp.count(u"C:\\Old\\VMSkin\\deep\\b.bmp"));

  s = SetupState();
  ASSERT_TRUE(Run(Payload({{u"main.exe", Encode("MZ")}}), u"C:\\New\\Sub"));
  EXPECT_TRUE(s.InstallDirCreated);
  EXPECT_TRUE(s.CreatedFolders.empty());
  EXPECT_FALSE(fs.lookedUp.count(u"C:\\New\\Sub\\main.exe"));
}

namespace {

// Mostly zeros with a numbered mark every 64 KiB, so misordered pieces show.
std::string Marked(size_t size, char tag) {
  std::string text(size, '\0');
  for (size_t at = 0, n = 0; at + 16 <= size; at += 64 << 10, ++n) {
    const std::string mark = tag + std::to_string(n);
    text.replace(at, mark.size(), mark);
  }
  return text;
}

Bytes Corrupt(size_t size) {
  Bytes stream = Encode(std::string(size, 'c'));
  std::fill(stream.begin() + 13, stream.end(), 0xFF);
  return stream;
}

}  // namespace

TEST_F(Extraction, DecodingAheadKeepsEveryFileWholeAndInOrder) {
  // Each big file is larger than what may be decoded ahead of its turn.
  const std::string big1 = Marked(12u << 20, 'x'), big2 = Marked(11u << 20, 'y');
  const auto entries = std::vector<Entry>{{u"a.txt", Encode("a")},
                                          {u"big1.bin", Encode(big1)},
                                          {u"big2.bin", Encode(big2)},
                                          {u"empty.dat", {}},
                                          {u"sub\\c.txt", Encode("c")},
                                          {u"d.raw", package::StoreStream((const uint8_t*)"raw", 3)}};
  // Decoding ahead; in the walk alone; one file to spare; three threads with
  // less room than one big file; three asked for, two handles to spare.
  const std::vector<std::pair<int, DecodeAhead>> runs = {
      {-1, {}}, {1, {}}, {2, {}}, {-1, {3, 1u << 20}}, {3, {3, 1u << 20}}};
  for (const auto& [opens, decodeAhead] : runs) {
    SCOPED_TRACE(::testing::Message() << opens << " opens, " << decodeAhead.threads << " threads");
    fs = MemoryFileSystem();
    fs.opensLeft = opens;
    ahead = decodeAhead;
    codes.seen.clear();
    s = SetupState();
    ASSERT_TRUE(Run(Payload(entries)));
    EXPECT_EQ(codes.List(), (std::vector<uint32_t>{0x50001, 0x50003, 0x50003, 0x50003, 0x50003, 0x50002, 0x50003,
                                                   0x50003}));
    EXPECT_EQ(codes.seen[2].second, u"C:\\App\\big1.bin");
    EXPECT_TRUE(File(u"C:\\App\\big1.bin") == big1);
    EXPECT_TRUE(File(u"C:\\App\\big2.bin") == big2);
    EXPECT_EQ(File(u"C:\\App\\empty.dat"), "");
    EXPECT_EQ(File(u"C:\\App\\sub\\c.txt"), "c");
    EXPECT_EQ(File(u"C:\\App\\d.raw"), "raw");
    EXPECT_LE(fs.largestWrite, size_t(4u << 20));
  }
}

TEST_F(Extraction, FailureWhileTheNextFileDecodesAheadStopsThere) {
  for (const DecodeAhead& decodeAhead : {DecodeAhead{}, DecodeAhead{3, 1u << 20}}) {
    SCOPED_TRACE(decodeAhead.threads);
    ahead = decodeAhead;
    codes.seen.clear();
    fs = MemoryFileSystem();
    FailuresWhileDecodingAhead();
  }
}

void Extraction::FailuresWhileDecodingAhead() {
  static const std::string big = Marked(12u << 20, 'n');
  static const Bytes bigStream = Encode(big);  // encoded once for every run
  // The current stream is bad: deleted, reported, and the next file never appears.
  EXPECT_FALSE(Run(Payload({{u"ok.txt", Encode("fine")}, {u"bad.bin", Corrupt(5000)}, {u"next.bin", bigStream}})));
  EXPECT_EQ(codes.List(), (std::vector<uint32_t>{0x50001, 0x50003, 0x50102}));
  EXPECT_EQ(codes.seen.back().second, u"C:\\App\\bad.bin");
  EXPECT_FALSE(fs.files.count(u"C:\\App\\bad.bin"));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\next.bin"));
  EXPECT_EQ(File(u"C:\\App\\ok.txt"), "fine");

  // The stream decoded ahead is the bad one: the file before it is whole.
  codes.seen.clear();
  fs.files.clear();
  EXPECT_FALSE(Run(Payload({{u"big.bin", bigStream}, {u"bad.bin", Corrupt(5000)}, {u"after.txt", Encode("a")}})));
  EXPECT_EQ(codes.List(), (std::vector<uint32_t>{0x50001, 0x50003, 0x50102}));
  EXPECT_TRUE(File(u"C:\\App\\big.bin") == big);
  EXPECT_FALSE(fs.files.count(u"C:\\App\\bad.bin"));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\after.txt"));

  // A short write of the current file while the next one decodes ahead.
  codes.seen.clear();
  fs.files.clear();
  fs.diskSpace = 1u << 20;
  EXPECT_FALSE(Run(Payload({{u"a.txt", Encode("a")}, {u"big.bin", bigStream}, {u"next.bin", bigStream}})));
  EXPECT_EQ(codes.seen.back(), std::make_pair(0x50102u, std::u16string(u"C:\\App\\big.bin")));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\big.bin"));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\next.bin"));
  fs.diskSpace = SIZE_MAX;

  // The next file is in use: the stop comes in its turn, after the current file.
  codes.seen.clear();
  fs.files.clear();
  fs.files[u"C:\\App\\next.bin"] = {'x'};
  fs.inUse.insert(u"C:\\App\\next.bin");
  EXPECT_FALSE(Run(Payload({{u"big.bin", bigStream}, {u"next.bin", bigStream}})));
  EXPECT_EQ(codes.List(), (std::vector<uint32_t>{0x50001, 0x50003, 0x50103}));
  EXPECT_TRUE(File(u"C:\\App\\big.bin") == big);
  EXPECT_EQ(File(u"C:\\App\\next.bin"), "x");
}

TEST_F(Extraction, WritePromptWhileTheNextFileDecodesAhead) {
  const std::string big = Marked(12u << 20, 'w');
  FakeSurface page;
  WizardExtractionReporter reporter(page);
  // Ignore skips a file whose stream was decoding ahead; the next one is whole.
  fs.unwritable.insert(u"C:\\App\\skip.bin");
  page.answers = {button::kRetry, button::kIgnore};
  ASSERT_TRUE(RunWith(reporter, Payload({{u"a.txt", Encode("a")}, {u"skip.bin", Encode(big)},
                                         {u"b.bin", Encode(big)}, {u"c.txt", Encode("c")}})));
  using Line = std::pair<uint16_t, std::u16string>;
  EXPECT_EQ(page.lines, (std::vector<Line>{{369, u"C:\\App\\"}, {377, u"a.txt"}, {379, u"skip.bin"},
                                          {377, u"b.bin"}, {377, u"c.txt"}}));
  EXPECT_FALSE(fs.files.count(u"C:\\App\\skip.bin"));
  EXPECT_TRUE(File(u"C:\\App\\b.bin") == big);
  EXPECT_EQ(File(u"C:\\App\\c.txt"), "c");

  // Abort stops at once; the file decoding ahead is not written.
  page = FakeSurface{};
  fs.files.clear();
  page.answers = {button::kAbort};
  EXPECT_FALSE(RunWith(reporter, Payload({{u"skip.bin", Encode(big)}, {u"b.bin", Encode(big)}})));
  EXPECT_EQ(page.lines.back(), Line(371, u"C:\\App\\skip.bin"));
  EXPECT_TRUE(fs.files.empty());
}

TEST(OrderedStatusSink, RunGoesOnWhileTheControllerTakesAReportAndEveryOneArrivesInOrder) {
  // The controller holds the first report until the run has reported more.
  struct HeldController : Codes {
    std::mutex mutex;
    std::condition_variable released;
    bool held = true;
    void Report(uint32_t code, const std::u16string& a) override {
      std::unique_lock<std::mutex> lock(mutex);
      released.wait(lock, [this] { return !held; });
      Codes::Report(code, a);
    }
  } controller;
  {
    OrderedStatusSink sink(controller);
    sink.Report(0x50001, u"C:\\App\\");
    for (uint32_t i = 0; i < 3000; ++i) {  // beyond the queue's limit
      if (i == 100) {
        std::lock_guard<std::mutex> lock(controller.mutex);
        controller.held = false;  // reached while the first was held
        controller.released.notify_all();
      }
      sink.Report(0x50003, u"f" + std::u16string(1, char16_t(u'a' + i % 26)));
    }
    sink.Report(0x00000);
  }
  ASSERT_EQ(controller.seen.size(), 3002u);
  EXPECT_EQ(controller.seen.front(), std::make_pair(0x50001u, std::u16string(u"C:\\App\\")));
  for (uint32_t i = 0; i < 3000; ++i)
    ASSERT_EQ(controller.seen[i + 1].second, u"f" + std::u16string(1, char16_t(u'a' + i % 26))) << i;
  EXPECT_EQ(controller.seen.back().first, 0u);
}
