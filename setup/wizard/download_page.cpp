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

constexpr int kBar = 1090, kSpeed = 1091, kSize = 1092, kPercent = 1093;
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

INT_PTR CALLBACK DownloadPageProc(HWND page, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  SendDlgItemMessageW(page, kBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendDlgItemMessageW(page, kBar, PBM_SETPOS, 0, 0);
  return TRUE;
}

}  // namespace setup
