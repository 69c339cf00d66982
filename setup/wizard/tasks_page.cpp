// Page 6: the additional icons and the server address.
#include <windows.h>
#include <commctrl.h>

#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

constexpr int kIntro = 1032, kGroup = 1033, kStartMenu = 1034, kDesktop = 1035, kQuickLaunch = 1036,
              kAddressLabel = 1037;
constexpr int kAddressLimit = 64;

bool* Choice(int id) {
  SetupState& s = State();
  switch (id) {
    case kStartMenu:
      return &s.hasStartMenu;
    case kDesktop:
      return &s.hasDesktop;
    case kQuickLaunch:
      return &s.hasQuickLaunch;
  }
  return nullptr;
}

void Create(HWND page) {
  for (int id : {kStartMenu, kDesktop, kQuickLaunch}) {
    const bool on = *Choice(id);
    CheckDlgButton(page, id, on ? BST_CHECKED : BST_UNCHECKED);
    EnableControl(page, id, on);
  }
  SendDlgItemMessageW(page, page_id::kServerAddress, EM_LIMITTEXT, kAddressLimit, 0);
  if (!State().AskServerAddress) {
    ShowControl(page, kAddressLabel, false);
    ShowControl(page, page_id::kServerAddress, false);
  }
}

}  // namespace

void EnterTasksPage(HWND page) {
  const SetupState& s = State();
  SetControlText(page, kIntro, FormattedText(309, {s.ProductName, s.header.VersionLabel}));
  SetControlText(page, kGroup, LoadText(311));
  SetControlText(page, kStartMenu, LoadText(313));
  SetControlText(page, kDesktop, LoadText(315));
  SetControlText(page, kQuickLaunch, LoadText(317));
  if (s.AskServerAddress) SetControlText(page, kAddressLabel, LoadText(319));
  SetFocus(GetDlgItem(page, page_id::kServerAddress));
}

bool ReadServerAddress(std::u16string& address) {
  HWND page = FindPageWindow(6);
  if (!page) return false;
  // A blank address control reads as "0.0.0.0": blank is empty.
  HWND field = GetDlgItem(page, page_id::kServerAddress);
  if (SendMessageW(field, IPM_ISBLANK, 0, 0)) {
    address.clear();
    return false;
  }
  address = ControlText(page, page_id::kServerAddress, kAddressLimit);
  return !address.empty();
}

INT_PTR CALLBACK TasksPageProc(HWND page, UINT message, WPARAM wp, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Create(page);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED)
        if (bool* choice = Choice(LOWORD(wp))) *choice = !*choice;
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
