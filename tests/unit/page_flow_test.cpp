#include <gtest/gtest.h>

#include "setup/wizard/page_flow.h"

using namespace setup;

namespace {

std::vector<int> Slots(const PageSet& p) {
  std::vector<int> out;
  for (int i = 0; i < kPageSlots; ++i)
    if (p[i]) out.push_back(i);
  return out;
}

struct Prompts {
  std::vector<uint32_t> asked;
  bool answer = true;
  Confirm confirm() {
    return [this](uint32_t c) {
      asked.push_back(c);
      return answer;
    };
  }
  Inform inform() {
    return [this](uint32_t c) { asked.push_back(c); };
  }
};

SetupState Package() {
  SetupState s;
  s.header.ProductID = u"{GUID-1}";
  s.header.VersionLabel = u"V4.0.2";
  s.InstallDir = u"C:\\Program Files\\Quorin";
  return s;
}

}  // namespace

TEST(PageFlow, InstallPageSets) {
  Prompts p;
  PageSet pages;
  // Offline, fixed language, no licence, group list or server address.
  SetupState s = Package();
  s.header.DefaultLanguage = 1;
  ASSERT_TRUE(EnablePages(s, std::nullopt, p.confirm(), p.inform(), pages));
  EXPECT_EQ(Slots(pages), (std::vector<int>{2, 4, 7, 9, 11}));
  EXPECT_TRUE(p.asked.empty());
  // Everything on.
  s = Package();
  s.header.ShowLicence = 1;
  s.hasProgramGroup = true;
  s.AskServerAddress = true;
  ASSERT_TRUE(EnablePages(s, std::nullopt, p.confirm(), p.inform(), pages));
  EXPECT_EQ(Slots(pages), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 9, 11}));
  // Online: the download page instead of the progress page; a server package never asks the address.
  s.header.OnlineInstall = 1;
  s.header.ServerPackage = 1;
  ASSERT_TRUE(EnablePages(s, std::nullopt, p.confirm(), p.inform(), pages));
  EXPECT_EQ(Slots(pages), (std::vector<int>{1, 2, 3, 4, 5, 7, 10, 11}));
}

TEST(PageFlow, EarlierInstallationPrompts) {
  PageSet pages;
  const ProductRecord older{u"D:\\Old", u"V4.0.1", u"{GUID-1}"};
  const ProductRecord newer{u"D:\\New", u"V4.0.3", u"{GUID-1}"};
  const ProductRecord same{u"D:\\Same", u"4.0.2 build", u"{GUID-1}"};
  const ProductRecord other{u"D:\\Other", u"V4.0.1", u"{GUID-2}"};
  Prompts p;
  SetupState s = Package();
  ASSERT_TRUE(EnablePages(s, older, p.confirm(), p.inform(), pages));
  EXPECT_EQ(p.asked, std::vector<uint32_t>{0x40001});
  EXPECT_EQ(s.InstallDir, u"D:\\Old");
  p.asked.clear();
  s = Package();
  ASSERT_TRUE(EnablePages(s, same, p.confirm(), p.inform(), pages));
  EXPECT_TRUE(p.asked.empty());
  EXPECT_EQ(s.InstallDir, u"D:\\Same");
  s = Package();
  ASSERT_TRUE(EnablePages(s, other, p.confirm(), p.inform(), pages));
  EXPECT_TRUE(p.asked.empty());
  EXPECT_EQ(s.InstallDir, u"C:\\Program Files\\Quorin");
  // Cancel on "a newer version is installed" ends setup.
  s = Package();
  p.answer = false;
  EXPECT_FALSE(EnablePages(s, newer, p.confirm(), p.inform(), pages));
  EXPECT_EQ(p.asked, std::vector<uint32_t>{0x40002});
  EXPECT_EQ(s.InstallDir, u"C:\\Program Files\\Quorin");
  // Textual comparison: 2.9 installed against 2.10 counts as newer.
  s = Package();
  s.header.VersionLabel = u"2.10";
  p.asked.clear();
  EXPECT_FALSE(EnablePages(s, ProductRecord{u"D:\\x", u"2.9", u"{GUID-1}"}, p.confirm(), p.inform(), pages));
  EXPECT_EQ(p.asked, std::vector<uint32_t>{0x40002});
}

TEST(PageFlow, UninstallBranch) {
  Prompts p;
  PageSet pages;
  SetupState s = Package();
  s.UninstallMode = true;
  ASSERT_TRUE(EnablePages(s, std::nullopt, p.confirm(), p.inform(), pages));
  EXPECT_EQ(Slots(pages), (std::vector<int>{8, 9, 11}));
  EXPECT_TRUE(s.RegistryRecordOwn);
  // Another copy's record: kept, not this package's own.
  ASSERT_TRUE(EnablePages(s, ProductRecord{u"D:\\x", u"V4.0.2", u"{GUID-2}"}, p.confirm(), p.inform(), pages));
  EXPECT_FALSE(s.RegistryRecordOwn);
  // This package's record pointing elsewhere stops the uninstall.
  s = Package();
  s.UninstallMode = true;
  EXPECT_FALSE(EnablePages(s, ProductRecord{u"D:\\Elsewhere", u"V4.0.2", u"{GUID-1}"}, p.confirm(), p.inform(), pages));
  EXPECT_EQ(p.asked, std::vector<uint32_t>{0x40102});
  EXPECT_TRUE(EnablePages(s, ProductRecord{s.InstallDir, u"V4.0.2", u"{GUID-1}"}, p.confirm(), p.inform(), pages));
  EXPECT_TRUE(s.RegistryRecordOwn);
}

TEST(PageFlow, NextAndBackSkipDisabledSlots) {
  PageSet pages{};
  for (int i : {2, 4, 7, 9, 11}) pages[i] = true;
  EXPECT_EQ(NextPage(pages, 2), 4);
  EXPECT_EQ(NextPage(pages, 4), 7);
  EXPECT_EQ(NextPage(pages, 11), -1);
  EXPECT_EQ(PreviousPage(pages, 7), 4);
  EXPECT_EQ(PreviousPage(pages, 2), -1);
  EXPECT_EQ(NextPage(pages, 0), 2);
}
