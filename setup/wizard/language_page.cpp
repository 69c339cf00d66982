// Page 1: the language choice, with the online package's "Connecting" state.
#include "setup/startup/language_strings.h"
#include "setup/startup/setup_state.h"
#include "setup/startup/win_header_environment.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/page_rules.h"
#include "setup/wizard/whole_body_page.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

constexpr int kList = 1071, kPicture = 1076, kTitle = 1068, kLabel = 1070, kAdvice = 1075, kConnecting = 1095;

// The name of the system's language, by system language.
uint16_t SystemLanguageName(int systemLanguage) {
  switch (systemLanguage) {
    case kChineseSimplified:
      return 509;
    case kChineseTraditional:
      return 512;
    case kJapanese:
      return 760;
    default:
      return 515;
  }
}

void ShowChoice(HWND page, bool shown) {
  for (int id : {kTitle, kLabel, kList, kAdvice}) ShowControl(page, id, shown);
  ShowControl(page, kConnecting, !shown);
}

// The wizard's texts, caption and buttons in `language`.
void UseLanguage(HWND page, int language) {
  SetupState& s = State();
  s.Language = language;
  InvalidateRect(page, nullptr, TRUE);
  SelectLanguageStrings(s, WinHeaderEnvironment().ProgramFilesBase(s.AllUsers));
  SetFrameCaption();
  HWND frame = Wizard().frame;
  SetDlgItemTextW(frame, frame_id::kNext, vx::ToWide(LoadText(163)).c_str());
  SetDlgItemTextW(frame, frame_id::kCancel, vx::ToWide(LoadText(165)).c_str());
}

void Create(HWND page) {
  const SetupState& s = State();
  PrepareWholeBodyPage(page, kPicture, {kTitle, kLabel, kAdvice, kConnecting});
  HWND list = GetDlgItem(page, kList);
  const int listed = ListedLanguageCount(s.header.ServerPackage, s.header.ServerAllLanguages);
  const uint16_t names[] = {148, 149, 150, 761};
  for (int i = 0; i < listed; ++i)
    SendMessageW(list, CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(vx::ToWide(LoadStringId(names[i], kLineCapacity)).c_str()));
  // A language the list lacks gives way to one it has, before any other page is made.
  const int language = ListedLanguage(s.Language, listed);
  if (language != s.Language) UseLanguage(page, language);
  SendMessageW(list, CB_SETCURSEL, WPARAM(language - 1), 0);
}

void LanguageChosen(HWND page) {
  const LRESULT index = SendDlgItemMessageW(page, kList, CB_GETCURSEL, 0, 0);
  if (index >= 0) UseLanguage(page, int(index) + 1);
}

void Draw(const DRAWITEMSTRUCT& item) {
  const SetupState& s = State();
  switch (item.CtlID) {
    case kTitle:
      DrawPageText(item, LoadText(154), Wizard().bigFont);
      break;
    case kLabel:
      DrawPageText(item, LoadText(159), nullptr);
      break;
    case kAdvice:
      DrawPageText(item, FormattedText(506, {LoadText(SystemLanguageName(s.SystemLanguage))}), nullptr);
      break;
    case kConnecting:
      DrawPageText(item, LoadText(788), nullptr);
      break;
  }
}

}  // namespace

void EnterLanguagePage(HWND page) {
  WizardContext& w = Wizard();
  EnableControl(page, kList, true);
  const bool waiting = WaitsForFileList(1, w.online != nullptr, w.onlineConnected);
  ShowChoice(page, !waiting);
  if (waiting) EnableWindow(GetDlgItem(w.frame, frame_id::kNext), FALSE);
}

void LanguagePageFileListIn(HWND page) { ShowChoice(page, true); }

INT_PTR CALLBACK LanguagePageProc(HWND page, UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_INITDIALOG:
      Create(page);
      return TRUE;
    case WM_PAINT:
      PaintWhite(page);
      return TRUE;
    case WM_DRAWITEM:
      Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == kList && HIWORD(wp) == CBN_SELCHANGE) LanguageChosen(page);
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
