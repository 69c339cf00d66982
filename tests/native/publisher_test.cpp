#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/fs_path.h"
#include "base/utf16.h"
#include "tools/update_server/publisher.h"
#include "update/download_file.h"
#include "update/update_messages.h"
#include "tests/support/file_io.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {



class Publisher : public ::testing::Test {
 protected:
  fs::path root;
  void SetUp() override {
    root = testing_support::TempFolder(
        "publisher-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    fs::create_directories(root / "product");
  }
  void TearDown() override { fs::remove_all(root); }

  update_server::PublishOptions Options() {
    update_server::PublishOptions o;
    o.files = root / "product";
    o.version = "v4.0.2026";
    o.build = 17;
    o.output = root / "published";
    return o;
  }
};

}  // namespace

TEST_F(Publisher, WritesTheFileListAndOneDownloadFilePerFile) {
  std::map<std::string, Bytes> product = {
      {"ZepClient.exe", Bytes(70000, 'x')},
      {"VMSkin/skin.bmp", Bytes{0, 1, 2, 3, 4}},
      {"VMSkin/deep/日本語.txt", Bytes{'j', 'p'}},
      {"empty.dat", {}},
  };
  for (const auto& [name, data] : product) WriteAll(root / "product" / vx::PathFromUtf8(name), data);
  fs::create_directories(root / "product" / "logs");  // an empty folder is listed too

  update_server::PublishSummary summary;
  std::string error;
  ASSERT_TRUE(update_server::Publish(Options(), summary, error)) << error;
  EXPECT_EQ(summary.files, 4u);
  EXPECT_EQ(summary.directories, 3u);
  EXPECT_EQ(summary.bytes, 70000u + 5 + 2);

  const Bytes listBytes = ReadAll(root / "published" / update_server::kFileListName);
  std::vector<update::FileInfo> list;
  ASSERT_TRUE(update::DecodeFileList(listBytes.data(), listBytes.size(), list));
  ASSERT_EQ(list.size(), 7u);
  std::map<std::u16string, update::FileInfo> byKey;
  int32_t id = 1;
  for (const auto& info : list) {
    EXPECT_EQ(info.nFileID, id++);  // unique, in order
    byKey[info.strFileKey] = info;
  }
  EXPECT_EQ(byKey.at(u"VMSkin").type, update::kFileTypeDirectory);
  EXPECT_EQ(byKey.at(u"VMSkin\\deep").type, update::kFileTypeDirectory);
  EXPECT_EQ(byKey.at(u"logs").type, update::kFileTypeDirectory);
  for (const auto& [name, data] : product) {
    std::u16string key = vx::Utf8ToUtf16(name);
    for (auto& c : key)
      if (c == u'/') c = u'\\';
    const update::FileInfo& info = byKey.at(key);
    EXPECT_EQ(info.type, 0);
    EXPECT_EQ(info.size, int32_t(data.size()));
    EXPECT_EQ(vx::Utf16ToUtf8(info.fileIdText), update::Md5Hex(data.data(), data.size()));
    const Bytes published = ReadAll(root / "published" / "files" / vx::PathFromUtf8(name));
    Bytes back;
    ASSERT_TRUE(update::DecodeDownloadFile(published.data(), published.size(), back, error)) << error;
    EXPECT_EQ(back, data) << name;
  }
  const Bytes version = ReadAll(root / "published" / "version.txt");
  EXPECT_EQ(std::string(version.begin(), version.end()), "version=v4.0.2026\nbuild=17\nfilelist=FileInfo.info\n");
}

// Replicas are made by publishing on each host: the bytes must not depend on
// the thread count or the memory budget (files larger than the budget are
// compressed alone).
TEST_F(Publisher, SameBytesWhateverTheThreadsAndMemory) {
  std::mt19937 random(3);
  for (int i = 0; i < 24; ++i) {
    Bytes data(size_t(i % 8 == 0 ? 2 << 20 : 1000 * i));
    for (auto& b : data) b = uint8_t(random() % (i % 2 ? 256 : 7));
    WriteAll(root / "product" / ("d" + std::to_string(i % 3)) / ("f" + std::to_string(i)), data);
  }
  std::map<fs::path, Bytes> first;
  for (const auto& [threads, memory] : std::vector<std::pair<unsigned, uint64_t>>{{1, 0}, {4, 1 << 20}}) {
    update_server::PublishOptions o = Options();
    o.threads = threads;
    o.memory = memory;
    update_server::PublishSummary summary;
    std::string error;
    ASSERT_TRUE(update_server::Publish(o, summary, error)) << error;
    EXPECT_EQ(summary.files, 24u);
    std::map<fs::path, Bytes> now;
    for (const auto& e : fs::recursive_directory_iterator(root / "published"))
      if (e.is_regular_file()) now[e.path().lexically_relative(root / "published")] = ReadAll(e.path());
    if (first.empty()) first = now;
    else EXPECT_TRUE(now == first) << threads << " threads, " << memory << " bytes";
  }
  EXPECT_EQ(first.size(), 24u + 2);
}

TEST_F(Publisher, RefusesBadOptionsAndLeavesNoFileList) {
  update_server::PublishSummary summary;
  std::string error;
  auto o = Options();
  o.files = root / "missing";
  EXPECT_FALSE(update_server::Publish(o, summary, error));
  EXPECT_NE(error.find("not a folder"), std::string::npos);

  o = Options();
  o.version = "v1\nbuild=99";
  EXPECT_FALSE(update_server::Publish(o, summary, error));

  // An output inside the product would publish itself; the product inside the
  // output would be deleted.
  o = Options();
  o.output = root / "product" / "out";
  EXPECT_FALSE(update_server::Publish(o, summary, error));
  o = Options();
  o.output = root;
  EXPECT_FALSE(update_server::Publish(o, summary, error));
  EXPECT_TRUE(fs::exists(root / "product"));

  // A symbolic link is refused before anything is written.
  WriteAll(root / "product" / "a.txt", Bytes{'a'});
  fs::create_symlink("/etc/passwd", root / "product" / "link");
  EXPECT_FALSE(update_server::Publish(Options(), summary, error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos);
  EXPECT_FALSE(fs::exists(root / "published" / update_server::kFileListName));
}

TEST_F(Publisher, KeepsAFolderThatIsNoPublicationAndReplacesAnEarlierOneWhole) {
  update_server::PublishSummary summary;
  std::string error;
  WriteAll(root / "product" / "a.txt", Bytes{'a'});
  // Somebody's documents are not overwritten, nor reached through a link.
  WriteAll(root / "documents" / "letter.doc", Bytes{'l'});
  auto o = Options();
  o.output = root / "documents";
  EXPECT_FALSE(update_server::Publish(o, summary, error));
  EXPECT_NE(error.find("neither empty nor an earlier publication"), std::string::npos) << error;
  fs::create_directory_symlink(root / "documents", root / "link");
  o.output = root / "link";
  EXPECT_FALSE(update_server::Publish(o, summary, error));
  EXPECT_TRUE(fs::exists(root / "documents" / "letter.doc"));

  // An earlier publication is replaced; a failure part-way leaves it whole.
  ASSERT_TRUE(update_server::Publish(Options(), summary, error)) << error;
  const Bytes list = ReadAll(root / "published" / update_server::kFileListName);
  WriteAll(root / "product" / "b.txt", Bytes{'b'});
  ASSERT_EQ(mkfifo((root / "product" / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(update_server::Publish(Options(), summary, error));
  EXPECT_NE(error.find("pipe"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(root / "published" / update_server::kFileListName), list);
  EXPECT_FALSE(fs::exists(root / "published" / "files" / "b.txt"));
  fs::remove(root / "product" / "pipe");
  ASSERT_TRUE(update_server::Publish(Options(), summary, error)) << error;
  EXPECT_TRUE(fs::exists(root / "published" / "files" / "b.txt"));
  // Nothing is left next to it.
  size_t siblings = 0;
  for (const auto& e : fs::directory_iterator(root)) siblings += e.path().filename() != "product" &&
                                                      e.path().filename() != "published" &&
                                                      e.path().filename() != "documents" &&
                                                      e.path().filename() != "link";
  EXPECT_EQ(siblings, 0u);
}

TEST_F(Publisher, RefusesNamesThatMakeNoSafeOrUniqueKey) {
  update_server::PublishSummary summary;
  std::string error;
  struct Case {
    std::vector<std::string> names;
    std::string named, why;
  };
  const Case cases[] = {
      {{"a/b", "a\\b"}, "a\\b", "backslash"},
      {{"..\\..\\evil.dll"}, "evil.dll", "'\\'"},
      {{"bad\xff.txt"}, "bad", "not valid UTF-8"},
      {{"Readme.TXT", "readme.txt"}, "eadme", "collides"},
      {{"\xc3\x84rger.txt", "\xc3\xa4rger.txt"}, "rger.txt", "collides"},  // Ärger, ärger
      {{"con:stream"}, "con:stream", "':'"},
  };
  for (const Case& c : cases) {
    fs::remove_all(root / "product");
    for (const auto& name : c.names) WriteAll(root / "product" / name, Bytes{'x'});
    EXPECT_FALSE(update_server::Publish(Options(), summary, error)) << c.names[0];
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    if (c.why != "backslash") EXPECT_NE(error.find(c.why), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(root / "published")) << c.names[0];
  }
}
