// Page 8: the uninstall options.
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

constexpr int kIntro = 1041, kFromLabel = 1042, kGroup = 1043, kFolder = 1044, kPartly = 1045, kAll = 1046,
              kDescription = 1047;

void Create(HWND page) {
  const SetupState& s = State();
  SetControlText(page, kIntro, FormattedText(409, {s.ProductName, s.header.VersionLabel}));
  SetControlText(page, kFromLabel, LoadText(411));
  SetControlText(page, kFolder, s.InstallDir);
  SetControlText(page, kGroup, LoadText(413));
  SetControlText(page, kPartly, LoadText(419));
  CheckDlgButton(page, kPartly, BST_CHECKED);
  SetControlText(page, kAll, LoadText(421));
  SetControlText(page, kDescription, LoadText(415));
}

}  // namespace

INT_PTR CALLBACK UninstallPageProc(HWND page, UINT message, WPARAM wp, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Create(page);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wp) != BN_CLICKED) return TRUE;
      if (LOWORD(wp) == kPartly && IsDlgButtonChecked(page, kPartly) == BST_CHECKED) {
        Wizard().completeDelete = false;
        SetControlText(page, kDescription, LoadText(415));
      } else if (LOWORD(wp) == kAll && IsDlgButtonChecked(page, kAll) == BST_CHECKED) {
        Wizard().completeDelete = true;
        SetControlText(page, kDescription, LoadText(417));
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
