// The component kind, the replaced spool folder setting and the placed
// components in the uninstall record's trailer, and the uninstaller's rules
// for undoing them.
#include <gtest/gtest.h>

#include "base/le_int.h"
#include "setup/integration/component_rules.h"
#include "setup/uninstall/uninstall_record.h"
#include "tests/support/record_bytes.h"

using namespace setup;
using Bytes = std::vector<uint8_t>;

namespace {

SetupState Client(int kind) {
  SetupState s;
  s.ProductName = u"Quorin";
  s.header.ProductNameEn = u"Quorin";
  s.InstallDir = u"C:\\App\\";
  s.InstalledFiles = {u"main.exe", u"VMSkin\\a.bmp"};
  s.FileCount = 2;
  s.InstallDirCreated = true;
  s.CreatedFoldersKnown = true;
  s.CreatedFolders = {u"VMSkin"};
  s.ComponentKind = kind;
  s.ComponentKindRecorded = true;
  return s;
}

Bytes Encode(const SetupState& s) { return testing_support::EncodeRecord(s); }
using testing_support::TrailerAt;

SetupState Decode(const Bytes& record, size_t size = size_t(-1)) {
  SetupState back;
  back.ComponentKind = 9;  // whatever the state held before
  back.ComponentKindRecorded = true;
  back.SpoolFolderKnown = true;
  back.PreviousSpoolFolder = u"stale";
  back.PlacedComponents = {u"stale"};
  std::string error;
  EXPECT_TRUE(DecodeUninstallRecord(record.data(), size == size_t(-1) ? record.size() : size, u"C:\\App", back, error))
      << error;
  return back;
}

void ExpectNothingKnown(const SetupState& s, const char* what) {
  EXPECT_EQ(s.ComponentKind, 0) << what;
  EXPECT_FALSE(s.ComponentKindRecorded) << what;
  EXPECT_FALSE(s.SpoolFolderKnown) << what;
  EXPECT_TRUE(s.PreviousSpoolFolder.empty()) << what;
  EXPECT_TRUE(s.PlacedComponents.empty()) << what;
}

void Put(Bytes& b, uint32_t v) {
  uint8_t w[4];
  vx::WriteLE32(w, v);
  b.insert(b.end(), w, w + 4);
}

void PutText(Bytes& b, const std::u16string& text) {
  const size_t at = b.size();
  b.resize(at + 520);
  for (size_t i = 0; i < text.size(); ++i) vx::WriteLE16(&b[at + 2 * i], text[i]);
}

}  // namespace

TEST(ComponentRecord, KindSpoolFolderAndPlacedComponentsRoundTrip) {
  SetupState s = Client(3);
  s.SpoolFolderKnown = true;
  s.PreviousSpoolFolder = u"C:\\Windows\\system32\\spool\\PRINTERS";
  s.PlacedComponents = {u"C:\\Windows\\system32\\qrimgoleEx.dll", u"C:\\Windows\\system32\\DavOzodu.vov"};
  const Bytes record = Encode(s);
  const SetupState back = Decode(record);
  EXPECT_EQ(back.ComponentKind, 3);
  EXPECT_TRUE(back.ComponentKindRecorded);
  EXPECT_TRUE(back.SpoolFolderKnown);
  EXPECT_EQ(back.PreviousSpoolFolder, s.PreviousSpoolFolder);
  EXPECT_EQ(back.PlacedComponents, s.PlacedComponents);
  EXPECT_TRUE(back.InstallDirCreated);
  EXPECT_EQ(back.CreatedFolders, s.CreatedFolders);
  const size_t at = TrailerAt(record);
  EXPECT_EQ(vx::ReadLE32(&record[at + 4]), 5u);
  EXPECT_EQ(record.size(), at + 8 + 12 + 12 + 8 + 520 + 8 + 520 + 8 + 2 * 520);

  // A setting that was not there is known as empty; a server package is kind 0.
  s.PreviousSpoolFolder.clear();
  EXPECT_TRUE(Decode(Encode(s)).SpoolFolderKnown);
  EXPECT_TRUE(Decode(Encode(s)).PreviousSpoolFolder.empty());
  SetupState server = Client(0);
  const SetupState serverBack = Decode(Encode(server));
  EXPECT_EQ(serverBack.ComponentKind, 0);
  EXPECT_TRUE(serverBack.ComponentKindRecorded);
  EXPECT_FALSE(serverBack.SpoolFolderKnown);
  EXPECT_TRUE(serverBack.PlacedComponents.empty());
}

TEST(ComponentRecord, RecordWithoutTrailerReadsAsKindZero) {
  SetupState s = Client(4);
  s.PlacedComponents = {u"C:\\Windows\\system32\\RunQrplayer.ocx"};
  const Bytes record = Encode(s);
  const size_t at = TrailerAt(record);
  ASSERT_LT(at, record.size());
  const SetupState old = Decode(record, at);
  ExpectNothingKnown(old, "no trailer");
  EXPECT_EQ(old.InstalledFiles, s.InstalledFiles);
  // With the uninstaller file's zero padding after it.
  Bytes padded(record.begin(), record.begin() + at);
  padded.resize(padded.size() + 7);
  ExpectNothingKnown(Decode(padded), "padding");
}

TEST(ComponentRecord, UnknownTagsAndLengthsAreSkipped) {
  const Bytes record = Encode(Client(4));
  Bytes b(record.begin(), record.begin() + TrailerAt(record));
  Put(b, kRecordTrailerMagic);
  Put(b, 5);
  Put(b, 99), Put(b, 6), b.insert(b.end(), 6, 0xAB);  // a later tag, any length
  Put(b, kTagComponentKind), Put(b, 8), Put(b, 3), Put(b, 0);  // a kind of another width: not this reader's
  Put(b, kTagSpoolFolder), Put(b, 4), Put(b, 0);               // likewise
  Put(b, kTagComponentKind), Put(b, 4), Put(b, 4);
  Put(b, kTagPlacedComponents), Put(b, 520), PutText(b, u"C:\\W\\qrgrabber.ax");
  const SetupState back = Decode(b);
  EXPECT_EQ(back.ComponentKind, 4);
  EXPECT_TRUE(back.ComponentKindRecorded);
  EXPECT_FALSE(back.SpoolFolderKnown);
  EXPECT_EQ(back.PlacedComponents, std::vector<std::u16string>{u"C:\\W\\qrgrabber.ax"});

  // A kind this reader does not know is not undone.
  Bytes other(record.begin(), record.begin() + TrailerAt(record));
  Put(other, kRecordTrailerMagic);
  Put(other, 1);
  Put(other, kTagComponentKind), Put(other, 4), Put(other, 7);
  const SetupState otherBack = Decode(other);
  EXPECT_EQ(otherBack.ComponentKind, 0);
  EXPECT_FALSE(otherBack.ComponentKindRecorded);
}

TEST(ComponentRecord, DamagedTrailerReadsAsNothingKnown) {
  SetupState s = Client(3);
  s.SpoolFolderKnown = true;
  s.PreviousSpoolFolder = u"D:\\Spool";
  s.PlacedComponents = {u"C:\\W\\DavOzodu.vov"};
  const Bytes record = Encode(s);
  const size_t at = TrailerAt(record);
  // Cut anywhere inside the trailer, even inside the spool field.
  for (size_t n = at + 1; n < record.size(); n += 13) {
    const SetupState back = Decode(record, n);
    ExpectNothingKnown(back, "cut");
    EXPECT_FALSE(back.InstallDirCreated) << n;
  }
  // A length beyond the record, or negative, for the kind and the spool field.
  for (size_t lengthAt : {at + 8 + 12 + 4, at + 8 + 12 + 12 + 4})
    for (uint32_t length : {0x7FFFFFFFu, 0xFFFFFFFCu, 100000u}) {
      Bytes b = record;
      vx::WriteLE32(&b[lengthAt], length);
      ExpectNothingKnown(Decode(b), "length");
    }
  // More entries announced than follow.
  Bytes b = record;
  vx::WriteLE32(&b[at + 4], 6);
  ExpectNothingKnown(Decode(b), "entries");
}

TEST(ComponentRecord, SpoolFolderAtTheFieldsLimit) {
  SetupState s = Client(3);
  s.SpoolFolderKnown = true;
  s.PreviousSpoolFolder = u"D:\\" + std::u16string(256, u'x');  // 259 characters: the field's capacity
  ASSERT_EQ(s.PreviousSpoolFolder.size(), 259u);
  SetupState back = Decode(Encode(s));
  EXPECT_TRUE(back.SpoolFolderKnown);
  EXPECT_EQ(back.PreviousSpoolFolder, s.PreviousSpoolFolder);

  // One more does not fit: the record is still written, the setting not known.
  s.PreviousSpoolFolder += u'y';
  Bytes record;
  std::string error;
  ASSERT_TRUE(EncodeUninstallRecord(s, record, error)) << error;
  back = Decode(record);
  EXPECT_FALSE(back.SpoolFolderKnown);
  EXPECT_TRUE(back.PreviousSpoolFolder.empty());
  EXPECT_EQ(back.ComponentKind, 3);
  EXPECT_EQ(back.CreatedFolders, s.CreatedFolders);

  // A stored field without terminator reads as its 260 characters.
  Bytes b(record.begin(), record.begin() + TrailerAt(record));
  Put(b, kRecordTrailerMagic);
  Put(b, 1);
  Put(b, kTagSpoolFolder), Put(b, 520);
  const size_t field = b.size();
  b.resize(field + 520);
  for (size_t i = 0; i < 260; ++i) vx::WriteLE16(&b[field + 2 * i], u'z');
  back = Decode(b);
  EXPECT_TRUE(back.SpoolFolderKnown);
  EXPECT_EQ(back.PreviousSpoolFolder, std::u16string(260, u'z'));
}

TEST(ComponentRules, KindFromThePackage) {
  EXPECT_EQ(ComponentKindFor(0, u"V3.0"), 3);
  EXPECT_EQ(ComponentKindFor(0, u"V4.0"), 4);
  EXPECT_EQ(ComponentKindFor(1, u"V4.0"), 0);
  EXPECT_EQ(ComponentKindFor(1, u"PHP"), 0);
  EXPECT_EQ(ComponentKindFor(0, u"v4.0"), 0);
  EXPECT_EQ(ComponentKindFor(0, u""), 0);
  using V = std::vector<std::u16string>;
  EXPECT_EQ(SystemComponentsFor(false, 0, 3), (V{u"qrimgoleEx.dll", u"DavOzodu.vov", u"qedit.dll", u"qrgrabber.ax"}));
  EXPECT_EQ(SystemComponentsFor(false, 0, 4), (V{u"qrimgoleEx.dll", u"RunQrplayer.ocx", u"qrgrabber.ax"}));
  EXPECT_EQ(SystemComponentsFor(false, 1, 0), (V{u"qrgrabber.ax"}));
  EXPECT_EQ(SystemComponentsFor(true, 0, 3), (V{u"qedit.dll", u"qrimgoleEx.dll", u"DavOzodu.vov", u"qrgrabber.ax"}));
  EXPECT_EQ(SystemComponentsFor(true, 1, 0), (V{u"qedit.dll", u"qrimgoleEx.dll", u"qrgrabber.ax"}));
}

TEST(ComponentRules, SpoolFolderGoesBackOnlyWhileItIsStillOurs) {
  const std::u16string dir = u"C:\\App", ours = u"c:\\app\\printspool", system = u"C:\\W\\spool\\PRINTERS";
  EXPECT_EQ(PrivateSpoolFolder(u"C:\\App\\"), u"C:\\App\\PrintSpool");
  // Back to what was there.
  SpoolRestore r = PlanSpoolRestore(dir, true, ours, true, u"D:\\Spool", system);
  EXPECT_EQ(r.action, SpoolRestore::Set);
  EXPECT_EQ(r.value, u"D:\\Spool");
  // Nothing was there: the setting goes.
  EXPECT_EQ(PlanSpoolRestore(dir, true, ours + u"\\", true, u"", system).action, SpoolRestore::Delete);
  // Another program's setting since, or none: left alone.
  EXPECT_EQ(PlanSpoolRestore(dir, true, u"E:\\Other", true, u"D:\\Spool", system).action, SpoolRestore::Leave);
  EXPECT_EQ(PlanSpoolRestore(dir, true, u"C:\\App\\PrintSpool2", true, u"D:\\Spool", system).action,
            SpoolRestore::Leave);
  EXPECT_EQ(PlanSpoolRestore(dir, false, u"", true, u"D:\\Spool", system).action, SpoolRestore::Leave);
  // Not known, or inside the folder being removed: the system's own folder.
  r = PlanSpoolRestore(dir, true, ours, false, u"", system);
  EXPECT_EQ(r.action, SpoolRestore::Set);
  EXPECT_EQ(r.value, system);
  r = PlanSpoolRestore(dir, true, ours, true, u"C:\\App\\Old", system);
  EXPECT_EQ(r.value, system);
  EXPECT_EQ(PlanSpoolRestore(dir, true, ours, false, u"", u"").action, SpoolRestore::Delete);
}

TEST(ComponentRules, OnlyComponentNamesInTheSystemFolderAreUndone) {
  const std::vector<std::u16string> system = {u"C:\\Windows\\system32", u""};
  EXPECT_TRUE(IsPlacedComponentPath(u"C:\\Windows\\system32\\RunQrplayer.ocx", system));
  EXPECT_TRUE(IsPlacedComponentPath(u"c:\\windows\\SYSTEM32\\qedit.dll", system));
  EXPECT_FALSE(IsPlacedComponentPath(u"C:\\Windows\\system32\\kernel32.dll", system));
  EXPECT_FALSE(IsPlacedComponentPath(u"C:\\Windows\\system32\\sub\\qedit.dll", system));
  EXPECT_FALSE(IsPlacedComponentPath(u"C:\\App\\qrgrabber.ax", system));
  EXPECT_FALSE(IsPlacedComponentPath(u"qrgrabber.ax", system));
  EXPECT_FALSE(IsPlacedComponentPath(u"\\qrgrabber.ax", system));  // the empty folder names none
}
