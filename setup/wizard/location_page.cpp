// Page 4: the destination folder.
#include <windows.h>
#include <shlobj.h>

#include "setup/startup/setup_state.h"
#include "setup/install/win_drive_query.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/page_rules.h"
#include "setup/wizard/prompts.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

constexpr int kIntro = 1022, kGroup = 1023, kBrowse = 1025, kRequired = 1026, kAvailable = 1027;
// The field holds up to the destination limit (a path that long is refused
// with its prompt); the browser's OK needs a path below it.
constexpr int kReadLimit = 260;
constexpr size_t kBrowseLimit = kDestinationLimit - 1;

// The last check of the folder field.
bool g_folderValid = false;

bool WaitingForFileList() {
  const WizardContext& w = Wizard();
  return WaitsForFileList(4, w.online != nullptr, w.onlineConnected);
}

void EnableNext() {
  const bool enabled = g_folderValid && !WaitingForFileList();
  EnableWindow(GetDlgItem(Wizard().frame, frame_id::kNext), enabled ? TRUE : FALSE);
}

// "Space required", from the online client's total when the package is an
// online one; until its file list is in, "Connecting to the server" instead.
void ShowSpaceRequired(HWND page) {
  SetupState& s = State();
  WizardContext& w = Wizard();
  if (WaitingForFileList()) {
    SetControlText(page, kRequired, LoadText(788));
    return;
  }
  if (w.online) s.header.TotalSize = int32_t(w.online->TotalSize());
  SetControlText(page, kRequired, FormattedText(327, {FormatSize(uint32_t(s.header.TotalSize))}));
}

std::u16string Product(uint16_t key) {
  const SetupState& s = State();
  return FormattedText(key, {s.ProductName, s.header.VersionLabel});
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lp, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
  } else if (message == BFFM_SELCHANGED) {
    wchar_t path[MAX_PATH * 2] = L"";
    if (!SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lp), path)) path[0] = 0;
    const size_t length = wcslen(path);
    SendMessageW(browser, BFFM_ENABLEOK, 0, length != 0 && length <= kBrowseLimit);
  }
  return 0;
}

void Browse(HWND page) {
  const std::wstring current = vx::ToWide(ControlText(page, page_id::kFolderField, kReadLimit));
  const std::wstring title = vx::ToWide(Product(331));
  BROWSEINFOW info = {};
  info.hwndOwner = page;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(current.c_str());
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  wchar_t path[MAX_PATH * 2] = L"";
  if (chosen && SHGetPathFromIDListW(chosen, path)) {
    SetDlgItemTextW(page, page_id::kFolderField, path);
  } else {
    SetControlText(page, page_id::kFolderField, State().InstallDir);
  }
  if (chosen) CoTaskMemFree(chosen);
}

}  // namespace

bool FolderIsValid(HWND page, const std::u16string& path) {
  SetControlText(page, kAvailable, u"");
  WinDriveQuery drives;
  const FolderVerdict verdict = CheckDestinationFolder(path, drives);
  if (verdict.tooLong) Prompt(page, 0x40104);
  if (verdict.freeBytes) SetControlText(page, kAvailable, FormattedText(329, {FormatSize(*verdict.freeBytes)}));
  return verdict.valid;
}

void EnterLocationPage(HWND page) {
  SetupState& s = State();
  if (s.UpdateMode) {
    s.InstallDir = s.PreviousDir;
    EnableControl(page, page_id::kFolderField, false);
    EnableControl(page, kBrowse, false);
  }
  SetControlText(page, kIntro, Product(321));
  SetControlText(page, kGroup, LoadText(323));
  SetControlText(page, kBrowse, LoadText(325));
  ShowSpaceRequired(page);
  const std::u16string folder = s.InstallDir;
  SetControlText(page, page_id::kFolderField, folder);  // EN_UPDATE copies it back
  HWND field = GetDlgItem(page, page_id::kFolderField);
  SetFocus(field);
  SendMessageW(field, EM_SETSEL, 0, -1);
  g_folderValid = FolderIsValid(page, folder);
  EnableNext();
}

void LocationPageFileListIn(HWND page, bool shown) {
  ShowSpaceRequired(page);
  if (shown) EnableNext();
}

INT_PTR CALLBACK LocationPageProc(HWND page, UINT message, WPARAM wp, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(page, page_id::kFolderField, EM_LIMITTEXT, kDestinationLimit, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == page_id::kFolderField && HIWORD(wp) == EN_UPDATE) {
        SetupState& s = State();
        s.InstallDir = ControlText(page, page_id::kFolderField, kReadLimit);
        g_folderValid = FolderIsValid(page, s.InstallDir);
        EnableNext();
      } else if (LOWORD(wp) == page_id::kFolderField && HIWORD(wp) == EN_MAXTEXT) {
        Prompt(page, 0x40104);
      } else if (LOWORD(wp) == kBrowse && HIWORD(wp) == BN_CLICKED) {
        Browse(page);
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
