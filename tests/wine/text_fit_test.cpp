// Every text fits the control that shows it, in every language: buttons and
// check boxes on one line, texts within their rectangle when word-wrapped,
// measured with the font each control is drawn with. One-line texts must also
// fit as the dialog face draws them on Windows, where every half-width
// character takes half the font's height and every other one the whole height
// (the face installed here draws Latin text narrower).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "base/utf16.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"

using namespace setup;

namespace {

enum class Kind {
  Button,    // push button: one line inside its border
  Check,     // check box or radio button: one line after the box
  Group,     // group box caption: one line between the frame's ends
  Wrapped,   // static text: word-wrapped within the rectangle
  OneLine,   // drawn with TextOut: one line within the width
};

enum class Font { Dialog, HeaderTitle, BigTitle };

struct Shown {
  int control;
  std::vector<uint16_t> keys;
  Kind kind;
  Font font = Font::Dialog;
  int japaneseWidth = 0;  // pixels, where the Japanese wizard resizes the control
};

struct PageTexts {
  int templateId;
  std::vector<Shown> shown;
};

// The frame's header band (texts drawn by the frame) and buttons.
const PageTexts kFrame = {214,
                          {{1002, {167}, Kind::Button},
                           {1003, {163, 176, 263, 291}, Kind::Button},
                           {1003, {269}, Kind::Button, Font::Dialog, 120},
                           {1004, {165}, Kind::Button},
                           {1005, {178, 251, 255, 259, 265, 271, 275, 279, 283, 287, 301, 305}, Kind::OneLine,
                            Font::HeaderTitle},
                           {1006, {180, 253, 257, 261, 267, 273, 277, 281, 285, 289, 303, 307}, Kind::Wrapped}}};

const std::vector<PageTexts> kPages = {
    {183,
     {{1068, {154}, Kind::Wrapped, Font::BigTitle},
      {1070, {159}, Kind::Wrapped},
      {1075, {506}, Kind::Wrapped},
      {1095, {788}, Kind::Wrapped}}},
    {216, {{1013, {172}, Kind::Wrapped, Font::BigTitle}, {1014, {174}, Kind::Wrapped}}},
    {217, {{1018, {353}, Kind::Wrapped}, {1020, {355}, Kind::Check}, {1021, {357}, Kind::Check}}},
    {218,
     {{1022, {321}, Kind::Wrapped},
      {1023, {323}, Kind::Group},
      {1025, {325}, Kind::Button},
      {1026, {327}, Kind::Wrapped},
      {1027, {329}, Kind::Wrapped}}},
    {219, {{1028, {359}, Kind::Wrapped}}},
    {220,
     {{1032, {309}, Kind::Wrapped},
      {1033, {311}, Kind::Group},
      {1034, {313}, Kind::Check},
      {1035, {315}, Kind::Check},
      {1036, {317}, Kind::Check},
      {1037, {319}, Kind::Wrapped}}},
    {221, {{1039, {335}, Kind::Wrapped}}},
    {222,
     {{1041, {409}, Kind::Wrapped},
      {1042, {411}, Kind::Wrapped},
      {1043, {413}, Kind::Group},
      {1045, {419}, Kind::Check},
      {1046, {421}, Kind::Check},
      {1047, {415, 417}, Kind::Wrapped}}},
    {223, {{1050, {407}, Kind::Button}}},
    {225, {{1091, {764}, Kind::Wrapped}, {1092, {768}, Kind::Wrapped}}},
    {224,
     {{1053, {297, 293}, Kind::Wrapped, Font::BigTitle},
      {1054, {299, 295}, Kind::Wrapped},
      {1067, {333, 497}, Kind::Wrapped}}},
};

// The sample product's names; the widest values the formats take.
std::u16string ProductName(int language) {
  switch (language) {
    case kChineseSimplified: return u"视频会议软件";
    case kChineseTraditional: return u"視訊會議軟體";
    case kJapanese: return u"ビデオ会議ソフト";
    default: return u"Video Conference";
  }
}

std::u16string Filled(uint16_t key, int language) {
  std::u16string text = LoadTextIn(key, language);
  std::vector<std::u16string> args;
  if (key == 327 || key == 329 || key == 764) {
    args = {u"1023.9MB"};
  } else if (key == 768) {
    args = {u"123.4MB", u"123.4MB"};
  } else if (key == 506) {
    // The longest name of a system language, in this language.
    std::u16string longest;
    for (uint16_t name : {509, 512, 515, 760}) {
      std::u16string n = LoadTextIn(name, language);
      if (n.size() > longest.size()) longest = n;
    }
    args = {longest};
  } else {
    args = {ProductName(language), u"v4.0.2026"};
  }
  size_t next = 0;
  for (size_t at = text.find(u"%s"); at != std::u16string::npos && next < args.size(); at = text.find(u"%s", at)) {
    text.replace(at, 2, args[next]);
    at += args[next++].size();
  }
  return text;
}

BYTE Charset(int language) {
  switch (language) {
    case kChineseSimplified: return GB2312_CHARSET;
    case kChineseTraditional: return CHINESEBIG5_CHARSET;
    default: return ANSI_CHARSET;
  }
}

class Fonts {
 public:
  explicit Fonts(int language)
      : title_(Make(-12, language)), big_(Make(-15, language)) {}
  ~Fonts() {
    DeleteObject(title_);
    DeleteObject(big_);
  }
  HFONT For(Font f, HWND control) const {
    if (f == Font::HeaderTitle) return title_;
    if (f == Font::BigTitle) return big_;
    return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  }

 private:
  static HFONT Make(int height, int language) {
    return CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, Charset(language), OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"宋体");
  }
  HFONT title_, big_;
};

// Room a control leaves for its text, in pixels of its client width.
int TextRoom(Kind kind, int width) {
  switch (kind) {
    case Kind::Button: return width - 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
    case Kind::Check: return width - GetSystemMetrics(SM_CXMENUCHECK) - 4;
    case Kind::Group: return width - 16;
    default: return width;
  }
}

const char* LanguageName(int language) {
  static const char* const names[] = {"", "English", "simplified Chinese", "traditional Chinese", "Japanese"};
  return names[language];
}

// Width of a one-line text in the dialog face's fixed cells; "&" marks an
// accelerator when `prefix`.
int CellWidth(const std::wstring& text, int em, bool prefix) {
  int width = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (prefix && c == L'&' && (i + 1 == text.size() || text[i + 1] != L'&')) continue;
    const bool full = c >= 0x2000 && !(c >= 0xFF61 && c <= 0xFF9F);
    width += full ? em : em / 2;
  }
  return width;
}

void ExpectFits(HWND dialog, const Shown& s, int language, const Fonts& fonts) {
  const HWND control = GetDlgItem(dialog, s.control);
  ASSERT_NE(control, nullptr) << s.control;
  RECT client;
  GetClientRect(control, &client);
  if (s.japaneseWidth && language == kJapanese) client.right = s.japaneseWidth;
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, fonts.For(s.font, control));
  const bool prefix = s.kind == Kind::Button || s.kind == Kind::Check;
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  LOGFONTW face = {};
  GetObjectW(fonts.For(s.font, control), sizeof face, &face);
  const int em = face.lfHeight < 0 ? -face.lfHeight : metrics.tmHeight - metrics.tmInternalLeading;
  const bool oneLine = s.kind != Kind::Wrapped || client.bottom < 2 * metrics.tmHeight;
  for (uint16_t key : s.keys) {
    const std::wstring text = vx::ToWide(Filled(key, language));
    ASSERT_FALSE(text.empty()) << key;
    const int room = TextRoom(s.kind, client.right);
    RECT need = {0, 0, room, 0};
    if (s.kind == Kind::Wrapped) {
      DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      EXPECT_LE(need.bottom, client.bottom)
          << LanguageName(language) << " text " << key << " wraps below control " << s.control << " ("
          << need.bottom << " > " << client.bottom << " pixels)";
    } else {
      DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE | (prefix ? 0 : DT_NOPREFIX));
    }
    EXPECT_LE(need.right, room) << LanguageName(language) << " text " << key << " is wider than control "
                                << s.control << " (" << need.right << " > " << room << " pixels)";
    if (oneLine) {
      const int cells = CellWidth(text, em, prefix);
      EXPECT_LE(cells, room) << LanguageName(language) << " text " << key << " in the dialog face is wider than control "
                             << s.control << " (" << cells << " > " << room << " pixels)";
    }
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
}

INT_PTR CALLBACK Quiet(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

TEST(TextFit, EveryTextFitsItsControlInEveryLanguage) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
  ASSERT_TRUE(InitCommonControlsEx(&icc));
  const HINSTANCE self = GetModuleHandleW(nullptr);
  const HWND frame = CreateDialogParamW(self, MAKEINTRESOURCEW(214), nullptr, Quiet, 0);
  ASSERT_NE(frame, nullptr);
  for (int language = kEnglish; language <= kJapanese; ++language) {
    const Fonts fonts(language);
    for (const Shown& s : kFrame.shown) ExpectFits(frame, s, language, fonts);
    for (const PageTexts& page : kPages) {
      SCOPED_TRACE("template " + std::to_string(page.templateId));
      const HWND dialog = CreateDialogParamW(self, MAKEINTRESOURCEW(page.templateId), frame, Quiet, 0);
      ASSERT_NE(dialog, nullptr);
      for (const Shown& s : page.shown) ExpectFits(dialog, s, language, fonts);
      DestroyWindow(dialog);
    }
  }
  DestroyWindow(frame);
}
