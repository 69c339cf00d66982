// What keeps installs and removals to the product's own files: the record's
// trailer, the removal plan, the folder rules, the relaunch's command line,
// the uninstaller image.
#include <gtest/gtest.h>

#include <map>

#include "base/command_line.h"
#include "base/le_int.h"
#include "setup/install/folder_safety.h"
#include "setup/package/instance_marker.h"
#include "setup/startup/relaunch_rules.h"
#include "setup/uninstall/image_signature.h"
#include "setup/uninstall/line_pacer.h"
#include "setup/uninstall/removal_plan.h"
#include "setup/uninstall/uninstall_record.h"
#include "tests/support/record_bytes.h"

using namespace setup;
using Bytes = std::vector<uint8_t>;
using testing_support::SignedLookingImage;

namespace {

SetupState Installed() {
  SetupState s;
  s.ProductName = u"Quorin";
  s.header.ProductNameEn = u"Quorin";
  s.InstallDir = u"C:\\App\\";
  s.InstalledFiles = {u"main.exe", u"VMSkin\\a.bmp", u"config\\deep\\b.ini"};
  s.FileCount = 3;
  return s;
}

Bytes Encode(const SetupState& s) { return testing_support::EncodeRecord(s); }
using testing_support::TrailerAt;

}  // namespace

TEST(RecordTrailer, CarriesWhatTheInstallCreatedAndOlderRecordsKnowNothing) {
  SetupState s = Installed();
  s.InstallDirCreated = true;
  s.CreatedFoldersKnown = true;
  s.CreatedFolders = {u"VMSkin", u"config\\deep", u"Logs"};
  const Bytes record = Encode(s);
  const size_t at = TrailerAt(record);
  ASSERT_LT(at, record.size());
  EXPECT_EQ(vx::ReadLE32(&record[at + 4]), 3u);  // created, component kind, folders
  EXPECT_EQ(record.size(), at + 8 + 12 + 12 + 8 + 3 * 520);

  std::string error;
  SetupState back;
  ASSERT_TRUE(DecodeUninstallRecord(record.data(), record.size(), u"C:\\App", back, error)) << error;
  EXPECT_TRUE(back.InstallDirCreated);
  EXPECT_TRUE(back.CreatedFoldersKnown);
  EXPECT_EQ(back.CreatedFolders, s.CreatedFolders);

  // An older record: no trailer, nothing known, the rest as before.
  SetupState old;
  old.InstallDirCreated = true;
  ASSERT_TRUE(DecodeUninstallRecord(record.data(), at, u"C:\\App", old, error)) << error;
  EXPECT_FALSE(old.InstallDirCreated);
  EXPECT_FALSE(old.CreatedFoldersKnown);
  EXPECT_EQ(old.InstalledFiles, s.InstalledFiles);

  // Unknown tags are skipped, known ones after them still read.
  Bytes extended(record.begin(), record.begin() + at);
  const auto put = [&](uint32_t v) {
    uint8_t b[4];
    vx::WriteLE32(b, v);
    extended.insert(extended.end(), b, b + 4);
  };
  put(kRecordTrailerMagic);
  put(3);
  put(7), put(4), put(4);                  // tags this reader does not know
  put(9), put(520), extended.resize(extended.size() + 520);
  put(1), put(4), put(1);
  ASSERT_TRUE(DecodeUninstallRecord(extended.data(), extended.size(), u"C:\\App", back, error)) << error;
  EXPECT_TRUE(back.InstallDirCreated);
  EXPECT_FALSE(back.CreatedFoldersKnown);
}

TEST(RecordTrailer, HostileTrailersReadAsNothingKnown) {
  SetupState s = Installed();
  s.InstallDirCreated = true;
  s.CreatedFoldersKnown = true;
  s.CreatedFolders = {u"VMSkin"};
  const Bytes record = Encode(s);
  const size_t at = TrailerAt(record);
  std::string error;
  const auto check = [&](const Bytes& bytes, const char* what) {
    SetupState back;
    ASSERT_TRUE(DecodeUninstallRecord(bytes.data(), bytes.size(), u"C:\\App", back, error)) << what;
    EXPECT_FALSE(back.InstallDirCreated) << what;
    EXPECT_FALSE(back.CreatedFoldersKnown) << what;
    EXPECT_TRUE(back.CreatedFolders.empty()) << what;
  };
  for (uint32_t count : {0x7FFFFFFFu, 0xFFFFFFFFu, 1000u}) {
    Bytes b = record;
    vx::WriteLE32(&b[at + 4], count);
    if (count == 1000u) {  // more entries than follow: the later ones are missing
      b.resize(at + 8 + 12);
      SetupState back;
      EXPECT_TRUE(DecodeUninstallRecord(b.data(), b.size(), u"C:\\App", back, error));
      EXPECT_FALSE(back.InstallDirCreated);
      continue;
    }
    check(b, "entry count");
  }
  // The folder list's length beyond the record, or negative.
  for (uint32_t length : {0x7FFFFFFFu, 0xFFFFFFF0u, 520u * 1000}) {
    Bytes b = record;
    vx::WriteLE32(&b[at + 8 + 12 + 12 + 4], length);
    check(b, "length");
  }
  // A cut anywhere in the trailer.
  for (size_t n = at; n < record.size(); n += 7) {
    SetupState back;
    EXPECT_TRUE(DecodeUninstallRecord(record.data(), n, u"C:\\App", back, error)) << n;
    EXPECT_FALSE(back.CreatedFoldersKnown) << n;
  }
  // Not our magic: ignored.
  Bytes b = record;
  vx::WriteLE32(&b[at], 0x12345678);
  check(b, "magic");
}

TEST(UninstallerImage, MarkerGroupMustFitWhole) {
  // The pair at the last scanned position of a 17-byte image: its header
  // offset would run 3 bytes past the end.
  Bytes image(17, 0);
  package::PatchMarkerGroup(image.data(), 0, {0, 0}, 0);
  vx::WriteLE32(&image[8], package::kFreshMarker.word1);
  vx::WriteLE32(&image[12], package::kFreshMarker.word2);
  const Bytes before = image;
  EXPECT_FALSE(MarkAsUninstaller(image, package::kFreshMarker, 99));
  EXPECT_EQ(image, before);
  image.resize(20);
  EXPECT_TRUE(MarkAsUninstaller(image, package::kFreshMarker, 99));
  EXPECT_EQ(vx::ReadLE32(&image[16]), 99u);
}


TEST(UninstallerImage, CertificateEntryAndChecksumAreCleared) {
  for (uint16_t magic : {uint16_t(0x10B), uint16_t(0x20B)}) {
    Bytes image = SignedLookingImage(magic);
    const size_t optional = 0x80 + 24, countField = magic == 0x10B ? 92 : 108;
    ASSERT_TRUE(ClearImageSignature(image));
    EXPECT_EQ(vx::ReadLE32(&image[optional + 64]), 0u);
    EXPECT_EQ(vx::ReadLE32(&image[optional + countField + 4 + 32]), 0u);
    EXPECT_EQ(vx::ReadLE32(&image[optional + countField + 4 + 36]), 0u);
    EXPECT_EQ(vx::ReadLE32(&image[optional + countField]), 16u);
  }
  // Not a PE image, or headers outside it: unchanged.
  Bytes bad = SignedLookingImage();
  bad[0] = 'X';
  Bytes before = bad;
  EXPECT_FALSE(ClearImageSignature(bad));
  EXPECT_EQ(bad, before);
  bad = SignedLookingImage();
  vx::WriteLE32(&bad[0x3C], 0xFFFFFFF0);
  before = bad;
  EXPECT_FALSE(ClearImageSignature(bad));
  EXPECT_EQ(bad, before);
  bad = SignedLookingImage();
  bad.resize(0x80 + 30);
  EXPECT_FALSE(ClearImageSignature(bad));
  Bytes tiny(3, 'M');
  EXPECT_FALSE(ClearImageSignature(tiny));
  EXPECT_FALSE(ImageChecksum(tiny));

  // The checksum: 16-bit sums with carries folded, plus the length; its own
  // field counts as zero, so setting it twice gives the same value.
  Bytes file = SignedLookingImage();
  file.push_back(0x7F);  // an odd length
  ASSERT_TRUE(UpdateImageChecksum(file));
  const uint32_t first = vx::ReadLE32(&file[0x80 + 24 + 64]);
  EXPECT_EQ(ImageChecksum(file), first);
  ASSERT_TRUE(UpdateImageChecksum(file));
  EXPECT_EQ(vx::ReadLE32(&file[0x80 + 24 + 64]), first);
  // Given in pieces of any size, the same sum.
  for (size_t piece : {size_t(1), size_t(3), size_t(64), size_t(1000)}) {
    PeChecksum pieces(0x80 + 24 + 64);
    for (size_t at = 0; at < file.size(); at += piece)
      pieces.Add(file.data() + at, std::min(piece, file.size() - at));
    EXPECT_EQ(pieces.Value(), first) << piece;
  }
  file[600] ^= 1;
  EXPECT_NE(ImageChecksum(file), first);
}

TEST(RemovalPlan, CompleteRemovalStaysWithinWhatTheInstallMade) {
  SetupState s = Installed();
  // Older record: partial, the folders of the listed files when empty.
  RemovalPlan p = PlanRemoval(s, true, false);
  EXPECT_EQ(p.kind, RemovalKind::Partial);
  EXPECT_FALSE(p.removeInstallDir);
  EXPECT_EQ(p.emptyFolders, (std::vector<std::u16string>{u"config\\deep", u"VMSkin", u"config"}));

  // The install made the folder: the whole tree, unless it is protected.
  s.InstallDirCreated = true;
  s.CreatedFoldersKnown = true;
  s.CreatedFolders = {u"VMSkin", u"config\\deep"};
  EXPECT_EQ(PlanRemoval(s, true, false).kind, RemovalKind::WholeFolder);
  p = PlanRemoval(s, true, true);
  EXPECT_EQ(p.kind, RemovalKind::Partial);
  EXPECT_EQ(p.emptyFolders, (std::vector<std::u16string>{u"config\\deep", u"VMSkin"}));
  EXPECT_TRUE(p.removeInstallDir);

  // A folder that was there before: the product's own folders whole, the
  // rest only as listed; the folder itself stays.
  s.InstallDirCreated = false;
  s.CreatedFolders = {u"VMSkin", u"VMSkin\\inner", u"config\\deep", u"vmskin\\INNER"};  // the same, in other case
  p = PlanRemoval(s, true, false);
  EXPECT_EQ(p.kind, RemovalKind::ProductFolders);
  EXPECT_EQ(p.wholeFolders, (std::vector<std::u16string>{u"config\\deep", u"VMSkin"}));
  EXPECT_FALSE(p.removeInstallDir);

  // Partial: only the folders the install made.
  p = PlanRemoval(s, false, false);
  EXPECT_EQ(p.kind, RemovalKind::Partial);
  EXPECT_EQ(p.emptyFolders, (std::vector<std::u16string>{u"VMSkin\\inner", u"config\\deep", u"VMSkin"}));

  EXPECT_TRUE(ListsInstalledFile({u"a.dll", u"QRIMGOLE.DLL"}, u"qrimgole.dll"));
  EXPECT_FALSE(ListsInstalledFile({u"sub\\qrimgole.dll"}, u"qrimgole.dll"));
  EXPECT_FALSE(ListsInstalledFile({}, u"qrimgole.dll"));
}

namespace {

struct FakeDrives : DriveQuery {
  std::map<std::u16string, unsigned> types{{u"C:\\", 3}, {u"R:\\", 3}, {u"\\\\srv\\share\\", 4}};
  unsigned DriveType(const std::u16string& root) override {
    std::u16string r = root;
    for (char16_t& c : r)
      if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    const auto f = types.find(root);
    return f != types.end() ? f->second : types.count(r) ? types[r] : 1;
  }
  std::optional<uint64_t> FreeBytes(const std::u16string&) override { return 1000; }
};

}  // namespace

TEST(FolderSafety, ProtectedFoldersAndDrivenDestinations) {
  const std::vector<std::u16string> system = {u"C:\\windows", u"C:\\windows\\system32"};
  const std::vector<std::u16string> special = {u"C:\\windows", u"C:\\Program Files", u"C:\\users\\bob",
                                               u"C:\\users\\bob\\Desktop"};
  EXPECT_TRUE(IsDriveRoot(u"R:"));
  EXPECT_TRUE(IsDriveRoot(u"r:\\"));
  EXPECT_TRUE(IsDriveRoot(u"\\\\srv\\share\\"));
  EXPECT_FALSE(IsDriveRoot(u"\\\\srv\\share\\dir"));
  EXPECT_FALSE(IsDriveRoot(u"C:\\x"));
  EXPECT_TRUE(IsProtectedFolder(u"R:\\", special));
  EXPECT_TRUE(IsProtectedFolder(u"c:\\program files\\", special));
  EXPECT_TRUE(IsProtectedFolder(u"C:\\users", special));  // holds a profile
  EXPECT_TRUE(IsProtectedFolder(u"C:\\Users\\Bob\\Desktop", special));
  EXPECT_FALSE(IsProtectedFolder(u"C:\\Program Files\\Quorin", special));
  EXPECT_FALSE(IsProtectedFolder(u"C:\\Program FilesX", special));

  FakeDrives drives;
  const auto allowed = [&](const std::u16string& p) { return DrivenDestinationAllowed(p, drives, system, special); };
  EXPECT_TRUE(allowed(u"C:\\Quorin"));
  EXPECT_TRUE(allowed(u"C:\\Program Files\\Quorin\\"));
  EXPECT_TRUE(allowed(u"\\\\srv\\share\\Quorin"));
  for (const std::u16string refused :
       {u"C:", u"C:\\", u"R:", u"C:\\windows", u"C:\\WINDOWS\\system32\\drivers", u"C:\\x\\..\\..\\windows",
        u"C:\\x\\.\\y", u"Quorin", u"\\Quorin", u"C:Quorin", u"C:/Quorin", u"C:\\\\Quorin", u"C:\\Program Files",
        u"C:\\users", u"Q:\\Quorin", u"\\\\srv\\share"})
    EXPECT_FALSE(allowed(refused)) << std::string(refused.begin(), refused.end());
  EXPECT_TRUE(allowed(u"C:\\" + std::u16string(254, u'a')));   // 257 characters
  EXPECT_FALSE(allowed(u"C:\\" + std::u16string(255, u'a')));  // 258
  EXPECT_FALSE(allowed(u"C:\\" + std::u16string(299, u'a')));
}

TEST(Relaunch, CommandLineQuotesBothItems) {
  EXPECT_EQ(vx::QuoteArgument(u"C:\\"), u"\"C:\\\\\"");
  EXPECT_EQ(vx::QuoteArgument(u"C:\\a b"), u"\"C:\\a b\"");
  EXPECT_EQ(vx::QuoteArgument(u"a\\\"b"), u"\"a\\\\\\\"b\"");
  EXPECT_EQ(vx::QuoteArgument(u""), u"\"\"");
  EXPECT_EQ(RelaunchCommandLine(u"C:\\Documents and Settings\\x\\zz~1.tmp", u"C:\\Program Files\\Q"),
            u"\"C:\\Documents and Settings\\x\\zz~1.tmp\" \"C:\\Program Files\\Q\"");
  EXPECT_TRUE(IsTemporaryCopy(u"C:\\Temp\\ZZ~12.tmp", u"c:\\temp\\"));
  EXPECT_FALSE(IsTemporaryCopy(u"C:\\Temp\\sub\\zz~12.tmp", u"C:\\Temp\\"));
  EXPECT_FALSE(IsTemporaryCopy(u"C:\\App\\uninstall.exe", u"C:\\Temp\\"));
  EXPECT_FALSE(IsTemporaryCopy(u"zz~1.tmp", u"C:\\Temp\\"));
}

TEST(LinePacer, LinesComingSlowlyEachPauseAndFastOnesATenthOfTheTime) {
  LinePacer slow;
  for (uint32_t now : {0u, 150u, 400u, 4294967200u, 4294967295u + 101u})
    EXPECT_EQ(slow.PauseAfterLine(now), LinePacer::kPauseMs) << now;
  LinePacer fast;
  uint32_t paused = 0;
  for (uint32_t now = 4294967000u, i = 0; i < 20000; ++i, now += 1) paused += fast.PauseAfterLine(now);
  EXPECT_EQ(paused, 200u * LinePacer::kPauseMs);  // one pause per 100 ms across the counter's wrap
}
