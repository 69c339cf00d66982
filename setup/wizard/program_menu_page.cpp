// Page 5: the program-menu folder name, with prefix search in the existing
// folders.
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/page_rules.h"
#include "setup/wizard/prompts.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

constexpr int kIntro = 1028, kName = 1029, kList = 1030;
constexpr int kNameLimit = 40;

// Updates of the name field caused by the page writing it: they must not
// search the list.
int g_ownWrites = 0;

std::vector<std::u16string> ListEntries(HWND list) {
  std::vector<std::u16string> entries;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, WPARAM(i), 0);
    std::wstring text(size_t(length > 0 ? length : 0) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    entries.push_back(vx::FromWide(text));
  }
  return entries;
}

void NameEdited(HWND page) {
  SetupState& s = State();
  s.ProgramGroup = ControlText(page, kName, kNameLimit);
  if (g_ownWrites > 0) {
    --g_ownWrites;
    return;
  }
  HWND list = GetDlgItem(page, kList);
  const int found = FindPrefix(ListEntries(list), s.ProgramGroup);
  if (found >= 0) {
    SendMessageW(list, LB_SETCURSEL, WPARAM(found), 0);
    SendMessageW(list, LB_SETTOPINDEX, WPARAM(found), 0);
  } else {
    SendMessageW(list, LB_SETCURSEL, WPARAM(-1), 0);
    SendMessageW(list, LB_SETTOPINDEX, 0, 0);
  }
}

void EntryChosen(HWND page) {
  HWND list = GetDlgItem(page, kList);
  const LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (index < 0) return;
  const std::vector<std::u16string> entries = ListEntries(list);
  if (size_t(index) >= entries.size()) return;
  State().ProgramGroup = FitBuffer(entries[size_t(index)], kNameLimit + 1);
  ++g_ownWrites;
  SetControlText(page, kName, State().ProgramGroup);
}

void Create(HWND page) {
  SendDlgItemMessageW(page, kName, EM_LIMITTEXT, kNameLimit, 0);
  HWND list = GetDlgItem(page, kList);
  for (const std::u16string& name : State().ExistingGroups) {
    const LRESULT r = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(vx::ToWide(name).c_str()));
    if (r == LB_ERR || r == LB_ERRSPACE) break;
  }
  g_ownWrites = 1;  // the first update after creation
}

}  // namespace

void EnterProgramMenuPage(HWND page) {
  SetControlText(page, kIntro, LoadText(359));
  HWND field = GetDlgItem(page, kName);
  SetControlText(page, kName, State().ProgramGroup);
  SetFocus(field);
  SendMessageW(field, EM_SETSEL, 0, -1);
}

INT_PTR CALLBACK ProgramMenuPageProc(HWND page, UINT message, WPARAM wp, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Create(page);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == kName && HIWORD(wp) == EN_UPDATE) NameEdited(page);
      if (LOWORD(wp) == kName && HIWORD(wp) == EN_MAXTEXT) Prompt(page, 0x40105);
      if (LOWORD(wp) == kList && (HIWORD(wp) == LBN_SELCHANGE || HIWORD(wp) == LBN_DBLCLK)) EntryChosen(page);
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
