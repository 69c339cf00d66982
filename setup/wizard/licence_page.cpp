// Page 3: the licence agreement.
#include <cstring>

#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

constexpr int kLabel = 1018, kText = 1019, kDecline = 1021;

int LicenceResource(int language) {
  switch (language) {
    case kChineseSimplified:
      return 151;
    case kChineseTraditional:
      return 188;
    case kJapanese:
      return 189;
    default:
      return 187;
  }
}

void EnableNext(bool enabled) { EnableWindow(GetDlgItem(Wizard().frame, frame_id::kNext), enabled ? TRUE : FALSE); }

}  // namespace

bool LoadLicence() {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(LicenceResource(State().Language)), L"TEXT");
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return false;
  const void* data = LockResource(loaded);
  if (!data) return false;
  const DWORD bytes = SizeofResource(module, found);
  // The text with its byte-order mark, zero-filled after it.
  std::vector<char16_t>& licence = Wizard().licence;
  licence.assign(bytes / 2 + 3, u'\0');
  std::memcpy(licence.data(), data, bytes);
  return true;
}

void EnterLicencePage(HWND page) {
  if (!LoadLicence()) return;
  SetControlText(page, kLabel, LoadText(353));
  SetControlText(page, page_id::kLicenceAccept, LoadText(355));
  SetControlText(page, kDecline, LoadText(357));
  // The mark stays in the buffer; the field shows the text after it.
  const std::vector<char16_t>& licence = Wizard().licence;
  const char16_t* text = licence.data();
  if (*text == u'\uFEFF') ++text;
  SetDlgItemTextW(page, kText, reinterpret_cast<const wchar_t*>(text));
  HWND field = GetDlgItem(page, kText);
  SetFocus(field);
  SendMessageW(field, EM_SETSEL, 0, 0);
  EnableNext(IsDlgButtonChecked(page, page_id::kLicenceAccept) == BST_CHECKED);
}

INT_PTR CALLBACK LicencePageProc(HWND page, UINT message, WPARAM wp, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      CheckDlgButton(page, kDecline, BST_CHECKED);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) {
        if (LOWORD(wp) == page_id::kLicenceAccept) EnableNext(true);
        if (LOWORD(wp) == kDecline) EnableNext(false);
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
