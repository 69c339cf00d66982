// Page 10: the download progress of an online package.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include <cstring>

#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

constexpr int kList = 1089, kBar = 1090, kSpeed = 1091, kSize = 1092, kPercent = 1093;
constexpr UINT_PTR kProgressTimer = 1;

std::u16string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", value);
  return std::u16string(text, text + std::strlen(text));
}

void ShowSize(HWND page, uint64_t downloaded) {
  OnlineClientLink* online = Wizard().online;
  SetControlText(page, kSize,
                 FormattedText(768, {online->FormatDownloadSize(downloaded),
                                     online->FormatDownloadSize(uint32_t(State().header.TotalSize))}));
}

}  // namespace

void EnterDownloadPage(HWND page) {
  WizardContext& w = Wizard();
  if (!w.online || State().UninstallMode) return;
  ShowSize(page, 0);
  SetControlText(page, kPercent, Percent(0));
  SetControlText(page, kSpeed, FormattedText(764, {u"0KB"}));
  SetTimer(FindPageWindow(4), kProgressTimer, 50, w.online->ProgressTimer());
}

void DownloadProgressUpdate(uintptr_t taskId, double percent) {
  WizardContext& w = Wizard();
  HWND page = FindPageWindow(10);
  if (!w.online || !page || !GetDlgItem(page, kPercent)) return;
  HWND list = GetDlgItem(page, kList);
  const int rows = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) || !item.lParam) continue;
    // The item data is the file's task; its first field is the identifier.
    if (*reinterpret_cast<const uintptr_t*>(item.lParam) != taskId) continue;
    std::wstring text = vx::ToWide(Percent(percent));
    LVITEMW cell = {};
    cell.iSubItem = 2;
    cell.pszText = text.data();
    SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&cell));
    break;
  }
  const uint64_t downloaded = w.online->DownloadedBytes();
  ShowSize(page, downloaded);
  const int32_t total = State().header.TotalSize;
  const double share = total > 0 ? double(downloaded) * 100.0 / double(total) : 0.0;
  SetControlText(page, kPercent, Percent(share));
  SendDlgItemMessageW(page, kBar, PBM_SETPOS, WPARAM(int(share)), 0);
}

INT_PTR CALLBACK DownloadPageProc(HWND page, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  SendDlgItemMessageW(page, kBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendDlgItemMessageW(page, kBar, PBM_SETPOS, 0, 0);
  return TRUE;
}

}  // namespace setup
