// Page 9: status line, progress bar and the detail list of the install and
// uninstall runs.
#include <windows.h>
#include <commctrl.h>

#include "setup/wizard/localized_text.h"
#include "setup/wizard/progress_surface.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {
constexpr int kStatus = 1048, kBar = 1049, kDetails = 1050, kList = 1051;
}

void EnterProgressPage(HWND page) { SetControlText(page, kDetails, LoadText(407)); }

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wp, LPARAM) {
  static ProgressControls controls;
  switch (message) {
    case WM_INITDIALOG: {
      HWND list = GetDlgItem(page, kList);
      controls = {page, GetDlgItem(page, kStatus), GetDlgItem(page, kBar), list};
      PublishProgressControls(controls);
      SetTimer(page, kBatchTimer, kBatchTimerMs, nullptr);
      const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
      if (height > 0) SendMessageW(list, LB_SETITEMHEIGHT, 0, height + 2);
      return TRUE;
    }
    case WM_TIMER:
      if (wp == kBatchTimer) ShowBatch(controls);
      return TRUE;
    case kShowBatchMessage:
      ShowBatch(controls);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == kDetails && HIWORD(wp) == BN_CLICKED) {
        ShowControl(page, kDetails, false);
        ShowControl(page, kList, true);
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
