#include <gtest/gtest.h>

#include <thread>

#include <map>

#include "setup/wizard/page_rules.h"
#include "setup/wizard/progress_batch.h"

using namespace setup;

namespace {

// C: fixed, R: RAM disk, E: CD, \\server\share\ remote.
struct FakeDrives : DriveQuery {
  std::vector<std::u16string> asked;
  unsigned DriveType(const std::u16string& root) override {
    asked.push_back(root);
    static const std::map<std::u16string, unsigned> types = {
        {u"C:\\", 3}, {u"R:\\", 6}, {u"E:\\", 5}, {u"\\\\server\\share\\", 4}};
    const auto it = types.find(root);
    return it == types.end() ? 1 : it->second;
  }
  std::optional<uint64_t> FreeBytes(const std::u16string& root) override {
    if (root == u"E:\\") return std::nullopt;
    return 5ull << 30;
  }
};

bool Valid(const std::u16string& path) {
  FakeDrives d;
  return CheckDestinationFolder(path, d).valid;
}

}  // namespace

TEST(DestinationFolder, RootsDrivesAndSeparators) {
  EXPECT_FALSE(Valid(u"C:\\"));
  EXPECT_FALSE(Valid(u"C:"));
  EXPECT_FALSE(Valid(u""));
  EXPECT_TRUE(Valid(u"C:\\Tools"));
  EXPECT_TRUE(Valid(u"C:\\Program Files\\Quorin\\"));
  EXPECT_FALSE(Valid(u"C:\\\\Tools"));
  EXPECT_FALSE(Valid(u"R:\\Fast"));
  EXPECT_FALSE(Valid(u"Q:\\Nowhere"));  // no such drive
  EXPECT_FALSE(Valid(u"Tools"));
  EXPECT_TRUE(Valid(u"E:\\Disc"));
  // UNC: the share is the root; the bare share is refused.
  EXPECT_TRUE(Valid(u"\\\\server\\share\\dir"));
  EXPECT_FALSE(Valid(u"\\\\server\\share\\"));
  EXPECT_FALSE(Valid(u"\\\\server\\share"));
}

TEST(DestinationFolder, LengthLimitAndFreeSpace) {
  FakeDrives d;
  const std::u16string base = u"C:\\";
  FolderVerdict v = CheckDestinationFolder(base + std::u16string(254, u'a'), d);  // 257 characters
  EXPECT_TRUE(v.valid);
  EXPECT_FALSE(v.tooLong);
  ASSERT_TRUE(v.freeBytes);
  EXPECT_EQ(*v.freeBytes, 5ull << 30);
  v = CheckDestinationFolder(base + std::u16string(255, u'a'), d);  // 258
  EXPECT_FALSE(v.valid);
  EXPECT_TRUE(v.tooLong);
  EXPECT_TRUE(d.asked.size() == 1u) << "no drive query for a path that is too long";
  // The space of a bare root is still shown; unknown space is not.
  v = CheckDestinationFolder(u"C:\\", d);
  EXPECT_FALSE(v.valid);
  EXPECT_TRUE(v.freeBytes);
  EXPECT_FALSE(CheckDestinationFolder(u"E:\\x", d).freeBytes);
}

TEST(PageRules, SizeFormats) {
  EXPECT_EQ(FormatSize(0), u"0.0KB");
  EXPECT_EQ(FormatSize(1023), u"0.0KB");
  EXPECT_EQ(FormatSize(1024), u"1.0KB");
  EXPECT_EQ(FormatSize(1048575), u"1024.0KB");
  EXPECT_EQ(FormatSize(1048576), u"1.0MB");
  EXPECT_EQ(FormatSize(39089257), u"37.3MB");
  EXPECT_EQ(FormatSize(1073741824), u"1.0GB");
  EXPECT_EQ(FormatSize(5ull << 40), u"5120.0GB");
}

TEST(PageRules, ServerPathCharacters) {
  EXPECT_TRUE(ServerPathAllowed("D:\\Server Files (1)"));
  EXPECT_FALSE(ServerPathAllowed("D:\\srv.old"));
  EXPECT_FALSE(ServerPathAllowed("D:\\a-b"));
  EXPECT_FALSE(ServerPathAllowed("D:\\a@b"));
  EXPECT_FALSE(ServerPathAllowed("D:\\a;b"));
  EXPECT_FALSE(ServerPathAllowed("D:\\a!b"));
  EXPECT_FALSE(ServerPathAllowed("D:\\\xC4\xE3"));  // a Chinese character in GBK
  EXPECT_TRUE(ServerPathAllowed("D:\\a_b[c]{d}~"));
  EXPECT_FALSE(ServerPathAllowed("D:\\a\x7F"));
  EXPECT_EQ(UpperCaseDriveLetter(u"d:\\srv"), u"D:\\srv");
  EXPECT_EQ(UpperCaseDriveLetter(u"D:\\srv"), u"D:\\srv");
  EXPECT_EQ(UpperCaseDriveLetter(u"\\\\h\\s"), u"\\\\h\\s");
}

TEST(PageRules, SummaryListsOnlyWhatIsOn) {
  const auto text = [](uint16_t key) -> std::u16string {
    switch (key) {
      case 337: return u"Destination location:\r\n";
      case 339: return u"\r\n\r\nProgram Manager Group:\r\n    ";
      case 341: return u"\r\n\r\nAdditional tasks:\r\n    ";
      case 343: return u"Create a Start Menu icon\r\n    ";
      case 345: return u"Create a Desktop icon\r\n    ";
      case 347: return u"Create a Quick Launch icon\r\n";
    }
    return u"?";
  };
  SummaryInput in{u"C:\\App\\", true, u"Quorin", false, true, true};
  EXPECT_EQ(BuildSummary(in, text),
            u"Destination location:\r\nC:\\App\\\r\n\r\nProgram Manager Group:\r\n    Quorin"
            u"\r\n\r\nAdditional tasks:\r\n    Create a Desktop icon\r\n    Create a Quick Launch icon\r\n");
  in = {u"C:\\App\\", false, u"", false, false, false};
  EXPECT_EQ(BuildSummary(in, text), u"Destination location:\r\nC:\\App\\");
  in.InstallDir = std::u16string(2000, u'x');
  EXPECT_EQ(BuildSummary(in, text).size(), 1023u);
}

TEST(PageRules, PrefixSearch) {
  const std::vector<std::u16string> groups = {u"Accessories", u"Accounting", u"Games", u"startup", u"视频"};
  EXPECT_EQ(FindPrefix(groups, u"Acc"), 0);
  EXPECT_EQ(FindPrefix(groups, u"acco"), 1);
  EXPECT_EQ(FindPrefix(groups, u"START"), 3);
  EXPECT_EQ(FindPrefix(groups, u"视"), 4);
  EXPECT_EQ(FindPrefix(groups, u"Zed"), -1);
  EXPECT_EQ(FindPrefix(groups, u"Accessories and more"), -1);
  EXPECT_EQ(FindPrefix(groups, u""), 0);
  EXPECT_EQ(FindPrefix({}, u"a"), -1);
}

TEST(PageRules, TheLanguageShownIsAlwaysOneTheListOffers) {
  EXPECT_EQ(ListedLanguageCount(0, 0), 4);
  EXPECT_EQ(ListedLanguageCount(1, 1), 4);
  EXPECT_EQ(ListedLanguageCount(1, 0), 2);
  EXPECT_EQ(ListedLanguageCount(1, 2), 2);
  struct Case {
    int language, listed, shown;
  };
  for (const Case& c : {Case{1, 2, 1}, Case{2, 2, 2}, Case{3, 2, 2}, Case{4, 2, 1}, Case{3, 4, 3}, Case{4, 4, 4},
                        Case{0, 4, 1}})
    EXPECT_EQ(ListedLanguage(c.language, c.listed), c.shown) << c.language << " of " << c.listed;
}

TEST(PageRules, OnlyTheLanguageAndDestinationPagesWaitForTheFileList) {
  for (int page = 1; page <= 11; ++page) {
    EXPECT_EQ(WaitsForFileList(page, true, false), page == 1 || page == 4) << page;
    EXPECT_FALSE(WaitsForFileList(page, true, true)) << page;    // the list is in
    EXPECT_FALSE(WaitsForFileList(page, false, false)) << page;  // an offline package
  }
}

TEST(ProgressBatch, KeepsLinesInOrderAndBarMovesAsTheyCame) {
  setup::ProgressBatch batch;
  EXPECT_TRUE(batch.Take().Empty());
  batch.Advance(3);
  batch.SetPosition(10);  // a position set drops the steps before it
  batch.AddLine(u"Output folder: C:\\App\\");
  batch.Advance(1);
  batch.AddLine(u"Copy file: a.txt");
  batch.Advance(1);
  auto taken = batch.Take();
  EXPECT_EQ(taken.lines, (std::vector<std::u16string>{u"Output folder: C:\\App\\", u"Copy file: a.txt"}));
  EXPECT_EQ(taken.position, std::optional<uint32_t>(10));
  EXPECT_EQ(taken.steps, 2u);
  EXPECT_TRUE(batch.Take().Empty());

  // Lines added from several threads while the page takes them: none lost.
  std::vector<std::thread> runs;
  for (int t = 0; t < 4; ++t)
    runs.emplace_back([&batch] {
      for (int i = 0; i < 5000; ++i) {
        batch.AddLine(u"line");
        batch.Advance(1);
      }
    });
  size_t lines = 0, steps = 0;
  for (int i = 0; i < 100; ++i) {
    taken = batch.Take();
    lines += taken.lines.size();
    steps += taken.steps;
  }
  for (auto& run : runs) run.join();
  taken = batch.Take();
  EXPECT_EQ(lines + taken.lines.size(), 20000u);
  EXPECT_EQ(steps + taken.steps, 20000u);
}
