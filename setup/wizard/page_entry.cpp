// What the frame shows on entering each page: buttons, header texts, and the
// page's own entry; and what the waiting pages show when the online client's
// file list comes in.
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

HWND Button(int id) { return GetDlgItem(Wizard().frame, id); }

void SetButton(int id, bool shown, bool enabled) {
  ShowWindow(Button(id), shown ? SW_SHOW : SW_HIDE);
  EnableWindow(Button(id), enabled ? TRUE : FALSE);
}

void SetButtonText(int id, uint16_t key) { SetWindowTextW(Button(id), vx::ToWide(LoadText(key)).c_str()); }

std::u16string Product(uint16_t key) {
  const SetupState& s = State();
  return FormattedText(key, {s.ProductName, s.header.VersionLabel});
}

void MoveNextButton(int x, int y, int width, int height) {
  MoveWindow(Button(frame_id::kNext), x, y, width, height, TRUE);
}

}  // namespace

void EnterPage(int slot) {
  const SetupState& s = State();
  WizardContext& w = Wizard();
  HWND page = w.slots[slot].window;
  SetButtonText(frame_id::kBack, 167);
  SetButtonText(frame_id::kNext, 163);
  SetButtonText(frame_id::kCancel, 165);
  const bool japanese = s.Language == kJapanese;

  switch (slot) {
    case 1:
      SetButton(frame_id::kBack, false, false);
      EnableWindow(Button(frame_id::kNext), TRUE);
      EnableWindow(Button(frame_id::kCancel), TRUE);
      EnterLanguagePage(page);
      break;
    case 2:
      if (s.header.DefaultLanguage != 0)
        SetButton(frame_id::kBack, false, false);
      else
        SetButton(frame_id::kBack, true, true);
      EnableWindow(Button(frame_id::kNext), TRUE);
      SetFocus(Button(frame_id::kNext));
      SetHeader(Product(172), Product(174));
      break;
    case 3:
      SetButtonText(frame_id::kNext, 176);
      SetButton(frame_id::kBack, true, true);
      SetHeader(LoadText(178), Product(180));
      EnterLicencePage(page);
      break;
    case 4:
      SetButton(frame_id::kBack, true, true);
      SetHeader(LoadText(251), Product(253));
      EnterLocationPage(page);
      break;
    case 5:
      SetButton(frame_id::kBack, true, true);
      SetHeader(LoadText(255), LoadText(257));
      EnterProgramMenuPage(page);
      break;
    case 6:
      SetButton(frame_id::kBack, true, true);
      SetHeader(LoadText(259), LoadText(261));
      EnterTasksPage(page);
      break;
    case 7:
      SetButtonText(frame_id::kNext, 263);
      SetHeader(LoadText(265), Product(267));
      EnterReadyPage(page);
      break;
    case 8:
      SetButtonText(frame_id::kNext, 269);
      ShowWindow(Button(frame_id::kBack), SW_HIDE);
      if (japanese) MoveNextButton(285, 303, 120, 19);
      SetHeader(Product(271), Product(273));
      break;
    case 9:
      EnableWindow(Button(frame_id::kBack), FALSE);
      EnableWindow(Button(frame_id::kNext), FALSE);
      EnableWindow(Button(frame_id::kCancel), TRUE);
      if (s.UninstallMode)
        SetHeader(LoadText(275), Product(277));
      else
        SetHeader(LoadText(283), Product(285));
      EnterProgressPage(page);
      StartRunThread();
      break;
    case 10:
      EnableWindow(Button(frame_id::kBack), FALSE);
      EnableWindow(Button(frame_id::kNext), FALSE);
      EnableWindow(Button(frame_id::kCancel), TRUE);
      SetHeader(LoadText(283), Product(285));
      EnterDownloadPage(page);
      break;
    case 11:
      SetButtonText(frame_id::kNext, 291);
      EnableWindow(Button(frame_id::kNext), TRUE);
      SetButton(frame_id::kBack, false, false);
      SetButton(frame_id::kCancel, false, false);
      DeleteMenu(GetSystemMenu(w.frame, FALSE), SC_CLOSE, MF_BYCOMMAND);
      if (s.UninstallMode)
        SetHeader(Product(293), Product(295));
      else
        SetHeader(Product(297), Product(299));
      if (japanese && s.UninstallMode) MoveNextButton(290, 302, 105, 19);
      EnterFinishPage(page);
      break;
  }
  InvalidateRect(w.frame, nullptr, TRUE);
}

void OnlineClientConnected() {
  WizardContext& w = Wizard();
  w.onlineConnected = true;
  if (HWND page = FindPageWindow(1)) {
    LanguagePageFileListIn(page);
    if (w.current == 1) EnableWindow(Button(frame_id::kNext), TRUE);
  }
  if (HWND page = FindPageWindow(4)) LocationPageFileListIn(page, w.current == 4);
}

}  // namespace setup
