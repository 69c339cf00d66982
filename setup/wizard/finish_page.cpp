// Page 11: finish, with the run-after-finish check box.
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/whole_body_page.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {
constexpr int kRunLabel = 1067, kPicture = 1052, kTitle = 1053, kBody = 1054;
}

void EnterFinishPage(HWND page) {
  const SetupState& s = State();
  const bool offered = !s.UninstallMode && s.header.RunOnFinish != 0;
  ShowControl(page, page_id::kRunCheck, offered);
  ShowControl(page, kRunLabel, offered);
  InvalidateRect(page, nullptr, TRUE);
}

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM, LPARAM lp) {
  switch (message) {
    case WM_INITDIALOG:
      PrepareWholeBodyPage(page, kPicture, {kTitle, kBody, kRunLabel});
      CheckDlgButton(page, page_id::kRunCheck, BST_CHECKED);
      return TRUE;
    case WM_PAINT:
      PaintWhite(page);
      return TRUE;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (DrawHeaderTexts(item, kTitle, kBody)) return TRUE;
      if (item.CtlID == kRunLabel) DrawPageText(item, LoadText(State().header.ServerPackage != 0 ? 497 : 333), nullptr);
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace setup
