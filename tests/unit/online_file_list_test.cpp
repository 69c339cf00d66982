#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/file_key_rules.h"
#include "update/online_file_list.h"

using update::FileInfo;
using update::OnlineFileList;

namespace {

FileInfo File(int32_t id, std::u16string key, int32_t size, int32_t type = 0) {
  FileInfo f;
  f.nFileID = id;
  f.type = type;
  f.size = size;
  f.strFileKey = std::move(key);
  f.fileIdText = u"id";
  return f;
}

bool Load(OnlineFileList& list, const std::vector<FileInfo>& files, std::string& error,
          const std::u16string& folder = u"C:\\Quorin\\") {
  const std::vector<uint8_t> bytes = update::EncodeFileList(files);
  return list.Load(bytes.data(), bytes.size(), folder, error);
}

}  // namespace

TEST(FileKeyRules, NormalisesSeparatorsAndOneLeadingPrefix) {
  EXPECT_EQ(update::NormaliseFileKey(u"bin/a.dll"), u"bin\\a.dll");
  EXPECT_EQ(update::NormaliseFileKey(u".\\FileInfo.info"), u"FileInfo.info");
  EXPECT_EQ(update::NormaliseFileKey(u"./a/b"), u"a\\b");
  EXPECT_EQ(update::NormaliseFileKey(u"\\a"), u"a");
  EXPECT_EQ(update::NormaliseFileKey(u"\\\\server\\x"), u"\\server\\x");  // only one goes
  std::string reason;
  for (const char16_t* bad : {u"..\\x", u"a\\..\\..\\x", u"C:\\x", u"C:x", u"", u"a\\\\b",
                              u"a\\.\\b", u"a*b", u"a\x01"}) {
    EXPECT_FALSE(update::CheckFileKey(update::NormaliseFileKey(bad), reason)) << std::u16string(bad).size();
    EXPECT_FALSE(reason.empty());
  }
  EXPECT_TRUE(update::CheckFileKey(u"bin\\a.dll", reason));
  EXPECT_TRUE(update::CheckFileKey(std::u16string(update::kMaxFileKeyLength, u'a'), reason));
  EXPECT_FALSE(update::CheckFileKey(std::u16string(update::kMaxFileKeyLength + 1, u'a'), reason));
}

TEST(OnlineFileList, ClassifiesEntriesAndComputesPaths) {
  OnlineFileList list;
  std::string error;
  ASSERT_TRUE(Load(list, {File(3, u"bin", 0, -1), File(1, u"bin/a.dll", 100), File(2, u"skip.txt", 50, 5),
                          File(4, u".\\readme.txt", 0)},
                   error))
      << error;
  EXPECT_EQ(list.m_mapFileInfos.size(), 4u);
  EXPECT_EQ(list.m_lstDirectories, std::vector<int32_t>{3});
  EXPECT_EQ(list.m_lstNeedDownloadFiles, (std::list<int32_t>{1, 4}));  // map order; type 5 stays out
  EXPECT_EQ(list.m_ulTotalSize, 100u);
  const update::DownloadEntry* a = list.Find(1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->key, u"bin\\a.dll");
  EXPECT_EQ(a->info.strFileKey, u"bin/a.dll");  // the transfer key stays as received
  EXPECT_EQ(a->finalPath, u"C:\\Quorin\\bin\\a.dll");
  EXPECT_EQ(a->tempPath, u"C:\\Quorin\\bin\\a.dll.udt!");
  EXPECT_EQ(list.FindByKey(u".\\readme.txt"), list.Find(4));
  EXPECT_EQ(list.FindByKey(u"bin"), nullptr);  // folders have no transfer
  EXPECT_EQ(list.Find(4)->finalPath, u"C:\\Quorin\\readme.txt");
  // The uninstaller's list: downloaded files only (never a folder or a type 5
  // entry the install did not write), also once they left the need list.
  using Keys = std::vector<std::u16string>;
  const Keys installed = {u"bin\\a.dll", u"readme.txt", u"FileInfo.info"};
  EXPECT_EQ(update::InstalledFileKeys(list, u"FileInfo.info"), installed);
  list.m_lstNeedDownloadFiles.clear();
  EXPECT_EQ(update::InstalledFileKeys(list, u"FileInfo.info"), installed);
  EXPECT_EQ(update::InstalledFileKeys(list, u""), (Keys{u"bin\\a.dll", u"readme.txt"}));

  // An empty list, and one with nothing to download.
  ASSERT_TRUE(Load(list, {}, error));
  EXPECT_TRUE(list.m_mapFileInfos.empty());
  EXPECT_EQ(list.m_ulTotalSize, 0u);
  ASSERT_TRUE(Load(list, {File(1, u"d", 0, -1), File(2, u"x", 9, 5)}, error));
  EXPECT_TRUE(list.m_lstNeedDownloadFiles.empty());
  EXPECT_EQ(list.m_ulTotalSize, 0u);
  EXPECT_TRUE(update::InstalledFileKeys(list, u"").empty());
}

TEST(OnlineFileList, RefusesListsThatCouldWriteOutsideTheFolder) {
  OnlineFileList list;
  std::string error;
  const std::vector<std::vector<FileInfo>> bad = {
      {File(1, u"a.txt", 1), File(2, u"..\\x", 1)},
      {File(1, u"C:\\x", 1)},
      {File(1, u"\\\\host\\share\\x", 1)},
      {File(1, u"d\\..\\..\\x", 0, -1)},
      {File(1, std::u16string(300, u'a'), 1)},
      {File(1, u"a.txt", 1), File(1, u"b.txt", 1)},                      // repeated id
      {File(1, u"a.txt", 1), File(2, u"A.TXT", 1)},                      // one file twice
      {File(1, u"a.txt", -5)},
      {File(1, u"dir\\", 1)},
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    ASSERT_TRUE(Load(list, {File(9, u"ok.txt", 1)}, error));
    error.clear();
    EXPECT_FALSE(Load(list, bad[i], error)) << i;
    EXPECT_FALSE(error.empty()) << i;
    EXPECT_TRUE(list.m_mapFileInfos.empty() && list.m_lstNeedDownloadFiles.empty()) << i;
  }
  // A key that fits alone but not below the install folder.
  const std::vector<FileInfo> longKey = {File(1, std::u16string(update::kMaxFileKeyLength, u'a'), 1)};
  EXPECT_TRUE(Load(list, longKey, error, u"C:\\Q\\"));
  EXPECT_FALSE(Load(list, longKey, error, u"C:\\Program Files\\Quorin\\"));
  EXPECT_TRUE(list.m_mapFileInfos.empty());
  // Bytes that are no file list.
  const uint8_t junk[] = {0xFF, 0xFF, 0xFF, 0x7F, 1, 2};
  EXPECT_FALSE(list.Load(junk, sizeof junk, u"C:\\Q\\", error));
}
