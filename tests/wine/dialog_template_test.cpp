#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace {

struct Control {
  int id, x, y, w, h;
  bool sized = true;  // pictures and drop-down lists size themselves
};

struct Template {
  int id, w, h;
  std::vector<Control> controls;
};

INT_PTR CALLBACK Quiet(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void ExpectLayout(HWND dialog, const Template& t) {
  SCOPED_TRACE("template " + std::to_string(t.id));
  RECT size = {0, 0, t.w, t.h};
  MapDialogRect(dialog, &size);
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  for (const Control& c : t.controls) {
    const HWND control = GetDlgItem(dialog, c.id);
    ASSERT_NE(control, nullptr) << "control " << c.id;
    if (!c.sized) continue;
    // The dialog manager maps position and size separately.
    RECT want = {c.x, c.y, c.w, c.h};
    MapDialogRect(dialog, &want);
    RECT got;
    GetWindowRect(control, &got);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&got), 2);
    EXPECT_EQ(got.left, want.left) << "control " << c.id;
    EXPECT_EQ(got.top, want.top) << "control " << c.id;
    EXPECT_EQ(got.right - got.left, want.right) << "control " << c.id;
    EXPECT_EQ(got.bottom - got.top, want.bottom) << "control " << c.id;
  }
}

const std::vector<Template> kPages = {
    {183, 331, 193, {{1071, 0, 0, 0, 0, false}, {1076, 0, 0, 0, 0, false}, {1068, 116, 14, 205, 37},
                     {1070, 127, 59, 36, 10}, {1075, 127, 79, 184, 33}, {1095, 116, 33, 207, 19}}},
    {215, 300, 140, {}},
    {216, 331, 193, {{1013, 120, 11, 195, 31}, {1014, 120, 63, 195, 110}, {1012, 0, 0, 0, 0, false}}},
    {217, 300, 140, {{1018, 0, 0, 299, 15}, {1019, 0, 15, 299, 93}, {1020, 0, 113, 299, 10}, {1021, 0, 128, 299, 10}}},
    {218, 300, 140, {{1022, 0, 0, 299, 60}, {1023, 0, 70, 299, 35}, {1024, 10, 85, 215, 12}, {1025, 233, 83, 55, 15},
                     {1026, 0, 115, 165, 8}, {1027, 0, 125, 159, 8}}},
    {219, 300, 140, {{1028, 0, 0, 299, 19}, {1029, 0, 20, 299, 14}, {1030, 0, 35, 299, 85}}},
    {220, 300, 140, {{1032, 0, 0, 299, 18}, {1033, 0, 30, 299, 85}, {1034, 21, 49, 259, 8}, {1035, 21, 67, 259, 8},
                     {1036, 21, 85, 259, 8}, {1037, 21, 126, 118, 8}, {1065, 143, 122, 100, 14}}},
    {221, 300, 140, {{1039, 0, 0, 299, 18}, {1040, 0, 19, 299, 112}}},
    {222, 300, 140, {{1041, 0, 0, 299, 30}, {1042, 0, 37, 84, 8}, {1044, 89, 35, 210, 12}, {1043, 0, 101, 299, 38},
                     {1045, 109, 65, 181, 10}, {1046, 109, 85, 181, 10}, {1047, 20, 115, 260, 16}}},
    {223, 300, 140, {{1048, 0, 0, 299, 10}, {1049, 0, 10, 299, 11}, {1050, 1, 26, 80, 14}, {1051, 0, 25, 299, 110}}},
    {225, 300, 140, {{1089, 0, 0, 299, 110}, {1090, 0, 126, 269, 11}, {1091, 0, 113, 177, 9}, {1092, 181, 113, 117, 9},
                     {1093, 270, 127, 25, 8}}},
    {224, 331, 193, {{1066, 120, 167, 9, 11}, {1067, 132, 169, 140, 10}, {1052, 0, 0, 0, 0, false},
                     {1053, 120, 8, 190, 31}, {1054, 120, 63, 190, 91}}},
};

}  // namespace

TEST(DialogTemplates, FrameAndEveryPageHaveTheirControlsInPlace) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
  ASSERT_TRUE(InitCommonControlsEx(&icc));
  const HINSTANCE self = GetModuleHandleW(nullptr);
  const HWND frame = CreateDialogParamW(self, MAKEINTRESOURCEW(214), nullptr, Quiet, 0);
  ASSERT_NE(frame, nullptr) << GetLastError();
  ExpectLayout(frame, {214, 331, 223, {{1002, 125, 202, 70, 13}, {1003, 196, 202, 70, 13}, {1004, 270, 201, 58, 14},
                                       {1010, 15, 45, 300, 140}, {1011, 0, 0, 331, 193}, {1005, 10, 5, 280, 10},
                                       {1006, 15, 18, 275, 17}, {1009, 0, 0, 0, 0, false}, {1007, 0, 0, 331, 35},
                                       {1008, 0, 189, 33, 8}}});
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(frame, 1010)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(frame, 1008)));
  EXPECT_EQ(GetWindowLongW(GetDlgItem(frame, 1003), GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON);
  for (const Template& t : kPages) {
    const HWND page = CreateDialogParamW(self, MAKEINTRESOURCEW(t.id), frame, Quiet, 0);
    ASSERT_NE(page, nullptr) << t.id;
    EXPECT_TRUE(GetWindowLongW(page, GWL_STYLE) & WS_CHILD);
    ExpectLayout(page, t);
    DestroyWindow(page);
  }
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(CreateDialogParamW(self, MAKEINTRESOURCEW(223), frame, Quiet, 0), 1051)));
  DestroyWindow(frame);
  const HWND init = CreateDialogParamW(self, MAKEINTRESOURCEW(213), nullptr, Quiet, 0);
  ASSERT_NE(init, nullptr);
  DestroyWindow(init);
}

TEST(LicenceTexts, Utf16WithByteOrderMarkPerLanguage) {
  const HINSTANCE self = GetModuleHandleW(nullptr);
  for (int id : {151, 188, 187, 189}) {
    const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), L"TEXT");
    ASSERT_NE(found, nullptr) << id;
    const DWORD size = SizeofResource(self, found);
    const auto* text = static_cast<const uint8_t*>(LockResource(LoadResource(self, found)));
    ASSERT_GT(size, 100u);
    EXPECT_EQ(text[0], 0xFF);
    EXPECT_EQ(text[1], 0xFE);
    EXPECT_EQ(size % 2, 0u);
    EXPECT_NE(text[size - 2] | text[size - 1], 0) << "no terminating zero";
  }
}

// The licence shown in each language is that language's own, and it names the
// page's accept and decline buttons as they read in that language.
TEST(LicenceTexts, EachLanguageShowsItsOwnNamingItsButtons) {
  struct Case { int language, resource; };
  std::u16string previous;
  for (const Case& c : {Case{setup::kEnglish, 187}, Case{setup::kChineseSimplified, 151},
                        Case{setup::kChineseTraditional, 188}, Case{setup::kJapanese, 189}}) {
    SCOPED_TRACE("language " + std::to_string(c.language));
    setup::State().Language = c.language;
    ASSERT_TRUE(setup::LoadLicence());
    const std::vector<char16_t>& buffer = setup::Wizard().licence;
    const HINSTANCE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(c.resource), L"TEXT");
    ASSERT_NE(found, nullptr);
    const DWORD size = SizeofResource(self, found);
    ASSERT_EQ(buffer.size(), size / 2 + 3);
    const std::u16string licence(buffer.data(), size / 2);
    EXPECT_EQ(licence, std::u16string(static_cast<const char16_t*>(LockResource(LoadResource(self, found))), size / 2));
    EXPECT_NE(licence, previous);
    previous = licence;
    for (uint16_t button : {355, 357}) {
      // The button's text without its accelerator: "(&A)" or the "&" alone.
      std::u16string name = setup::LoadTextIn(button, c.language);
      const size_t mark = name.find(u"(&");
      if (mark != std::u16string::npos)
        name.erase(mark, 4);
      else
        name.erase(name.find(u'&'), 1);
      EXPECT_NE(licence.find(name), std::u16string::npos) << "text " << button;
    }
  }
  setup::State().Language = setup::kEnglish;
}
