#include "setup/wizard/wizard_frame.h"

#include <shellapi.h>

#include "base/utf16.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/message_tables.h"
#include "setup/wizard/page_rules.h"
#include "setup/wizard/prompts.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

struct PageTemplate {
  int templateId;
  DLGPROC procedure;
  bool wholeBody;
};

// Slot 0 is never enabled.
const PageTemplate kPages[kPageSlots] = {
    {215, nullptr, false},
    {183, LanguagePageProc, true},
    {216, WelcomePageProc, true},
    {217, LicencePageProc, false},
    {218, LocationPageProc, false},
    {219, ProgramMenuPageProc, false},
    {220, TasksPageProc, false},
    {221, ReadyPageProc, false},
    {222, UninstallPageProc, false},
    {223, ProgressPageProc, false},
    {225, DownloadPageProc, false},
    {224, FinishPageProc, true},
};

PageSet g_pages{};

bool HeaderOwnedByPage(int current) { return current == 1 || current == 2 || current == 11; }

HFONT MakeFont(int height) {
  LOGFONTW f = {};
  f.lfHeight = height;
  f.lfWeight = 700;
  switch (State().Language) {
    case kChineseSimplified:
      f.lfCharSet = 134;
      break;
    case kChineseTraditional:
      f.lfCharSet = 136;
      break;
    default:
      f.lfCharSet = 0;
  }
  const std::wstring face = vx::ToWide(LoadStringId(12, LF_FACESIZE));
  wcsncpy(f.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return CreateFontIndirectW(&f);
}

RECT ControlRect(HWND frame, int id) {
  RECT r = {};
  GetWindowRect(GetDlgItem(frame, id), &r);
  MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool CreatePages(HWND frame) {
  WizardContext& w = Wizard();
  const RECT whole = ControlRect(frame, frame_id::kWholeBody);
  const RECT inner = ControlRect(frame, frame_id::kInnerArea);
  for (int slot = 0; slot < kPageSlots; ++slot) {
    PageSlot& p = w.slots[slot];
    p.enabled = g_pages[slot];
    p.kind = -1;
    p.window = nullptr;
    if (!p.enabled || !kPages[slot].procedure) continue;
    HWND page = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPages[slot].templateId), frame,
                                   kPages[slot].procedure, 0);
    if (!page) return false;
    p.window = page;
    p.kind = slot;
    const RECT& r = kPages[slot].wholeBody ? whole : inner;
    if (!SetWindowPos(page, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                      SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE))
      return false;
  }
  return true;
}

void ShowPage(int slot) {
  WizardContext& w = Wizard();
  ShowWindow(w.slots[w.current].window, SW_HIDE);
  w.current = slot;
  ShowWindow(w.slots[slot].window, SW_SHOW);
  EnterPage(slot);
}

int CreatedAfter(int current) {
  for (int i = current + 1; i < kPageSlots; ++i)
    if (Wizard().slots[i].window) return i;
  return -1;
}

int CreatedBefore(int current) {
  for (int i = current - 1; i >= 0; --i)
    if (Wizard().slots[i].window) return i;
  return -1;
}

void Finish(HWND frame) {
  SetupState& s = State();
  WizardContext& w = Wizard();
  HWND finish = w.slots[11].window;
  if (!s.UninstallMode && s.header.RunOnFinish != 0 && finish &&
      IsDlgButtonChecked(finish, page_id::kRunCheck) == BST_CHECKED) {
    const std::wstring program = vx::ToWide(s.InstallDir + s.header.MainExe);
    const std::wstring folder = vx::ToWide(s.InstallDir);
    ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
  }
  w.licence.clear();
  w.licence.shrink_to_fit();
  EndDialog(frame, 0);
}

void Next(HWND frame) {
  SetupState& s = State();
  WizardContext& w = Wizard();
  // Also when Next comes as a message while the button is disabled.
  if (WaitsForFileList(w.current, w.online != nullptr, w.onlineConnected)) return;
  if (s.AskServerAddress && w.current == 6) {
    if (!ReadServerAddress(s.ServerAddress)) {
      Prompt(frame, 0x40004);
      SetFocus(GetDlgItem(w.slots[6].window, page_id::kServerAddress));
      return;
    }
  }
  if (s.UninstallMode && w.completeDelete && w.current == 8) {
    const std::u16string product = s.ProductName + u" " + s.header.VersionLabel;
    if (PromptWithArgument(frame, product, 0x40005) == IDNO) return;
  }
  if (w.current == 4) {
    HWND page = w.slots[4].window;
    std::u16string path = ControlText(page, page_id::kFolderField, 260);
    if (s.header.ServerPackage != 0 && !ServerPathAllowed(vx::Utf16ToAnsi(path))) {
      MessageBoxW(frame, vx::ToWide(LoadText(500, kMessageCapacity)).c_str(), vx::ToWide(LoadText(503)).c_str(),
                  MB_OK);
      return;
    }
    const std::u16string upper = UpperCaseDriveLetter(path);
    if (upper != path) SetControlText(page, page_id::kFolderField, upper);
  }
  if (w.current == 11) {
    Finish(frame);
    return;
  }
  const int next = CreatedAfter(w.current);
  if (next >= 0) ShowPage(next);
}

void Back() {
  const int previous = CreatedBefore(Wizard().current);
  if (previous >= 0) ShowPage(previous);
}

void Cancel(HWND frame) {
  WizardContext& w = Wizard();
  if (w.runThread) {
    // The run is working: asked in both modes, the run held at its next safe
    // point meanwhile; a confirmed cancel stops it there and the wizard ends
    // when it has (RunThreadEnded).
    if (w.stopRun) return;
    w.quitQuestion.Hold();
    const bool quit = Prompt(frame, 0x100) == IDYES;
    if (quit && w.runThread) w.stopRun = true;
    w.quitQuestion.Release();
    if (!quit) return;
    if (!w.runThread) {  // it ended while the question stood (past its last safe point)
      EndDialog(frame, 0);
      return;
    }
    EnableWindow(GetDlgItem(frame, frame_id::kCancel), FALSE);
    return;
  }
  if (State().UninstallMode || Prompt(frame, 0x100) == IDYES) EndDialog(frame, 0);
}

void DrawHeader(const DRAWITEMSTRUCT& item) {
  WizardContext& w = Wizard();
  if (HeaderOwnedByPage(w.current)) return;
  FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(item.hDC, TRANSPARENT);
  if (item.CtlID == frame_id::kTitle) {
    HGDIOBJ old = SelectObject(item.hDC, w.titleFont);
    const std::wstring text = vx::ToWide(w.headerTitle);
    TextOutW(item.hDC, item.rcItem.left, item.rcItem.top, text.c_str(), int(text.size()));
    SelectObject(item.hDC, old);
  } else {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(w.frame, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(item.hDC, font) : nullptr;
    RECT r = item.rcItem;
    const std::wstring text = vx::ToWide(w.headerSubtitle);
    DrawTextW(item.hDC, text.c_str(), int(text.size()), &r, DT_WORDBREAK | DT_NOPREFIX);
    if (old) SelectObject(item.hDC, old);
  }
}

void PaintHeaderBand(HWND frame) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(frame, &ps);
  const RECT band = ControlRect(frame, frame_id::kHeaderBand);
  FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  EndPaint(frame, &ps);
}

bool StartFrame(HWND frame) {
  SetupState& s = State();
  WizardContext& w = Wizard();
  w.frame = frame;
  if (!w.titleFont) w.titleFont = MakeFont(-12);
  if (!w.bigFont) w.bigFont = MakeFont(-15);
  if (!CreatePages(frame)) {
    MessageBoxW(nullptr, L"init child dlg false!", L"", MB_OK);
    if (w.initWindow) DestroyWindow(w.initWindow);
    w.initWindow = nullptr;
    EndDialog(frame, 0);
    return false;
  }
  SetFrameCaption();
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(s.UninstallMode ? 156 : 155));
  SendMessageW(frame, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  MakeOwnerDrawn(frame, frame_id::kTitle);
  MakeOwnerDrawn(frame, frame_id::kSubtitle);
  SetControlText(frame, frame_id::kBrand, LoadStringId(10, kLineCapacity));

  int first = -1;
  for (int slot = 0; slot <= 10; ++slot) {
    if (!w.slots[slot].window) continue;
    ShowWindow(w.slots[slot].window, SW_HIDE);
    if (first < 0) first = slot;
  }
  if (first >= 0) {
    w.current = first;
    ShowWindow(w.slots[first].window, SW_SHOW);
    EnterPage(first);
  }

  if (!s.UninstallMode) Sleep(1000);  // the initialisation window stays up at least this long
  if (w.initWindow) DestroyWindow(w.initWindow);
  w.initWindow = nullptr;

  if (w.online) {
    w.online->SetupColumns(GetDlgItem(FindPageWindow(10), 1089));
    w.online->Start(s.header.OnlineProductCode, s.header.UpdateServers, s.header.ServerListForm);
  }
  return true;
}

INT_PTR CALLBACK FrameProc(HWND frame, UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_INITDIALOG:
      StartFrame(frame);
      return TRUE;
    case WM_PAINT:
      PaintHeaderBand(frame);
      return TRUE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item->CtlID != frame_id::kTitle && item->CtlID != frame_id::kSubtitle) return FALSE;
      DrawHeader(*item);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case frame_id::kNext:
          Next(frame);
          return TRUE;
        case frame_id::kBack:
          Back();
          return TRUE;
        case frame_id::kCancel:
        case IDCANCEL:
          Cancel(frame);
          return TRUE;
      }
      return FALSE;
    case kRunEndedMessage:
      RunThreadEnded(frame);
      return TRUE;
    case kOnlineClientMessage:
      if (Wizard().online) Wizard().online->RunPostedTasks();
      return TRUE;
  }
  return FALSE;
}

}  // namespace

WizardContext& Wizard() {
  static WizardContext context;
  return context;
}

INT_PTR RunWizard(const PageSet& pages) {
  g_pages = pages;
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(214), nullptr, FrameProc, 0);
}

HWND FindPageWindow(int kind) {
  for (const PageSlot& p : Wizard().slots)
    if (p.enabled && p.kind == kind) return p.window;
  return nullptr;
}

void SetHeader(const std::u16string& title, const std::u16string& subtitle) {
  WizardContext& w = Wizard();
  w.headerTitle = FitBuffer(title, kLineCapacity);
  w.headerSubtitle = FitBuffer(subtitle, kLineCapacity);
  // The owner-drawn header controls carry the texts too (for screen readers
  // and test drivers); they are drawn from the buffers.
  SetControlText(w.frame, frame_id::kTitle, w.headerTitle);
  SetControlText(w.frame, frame_id::kSubtitle, w.headerSubtitle);
  InvalidateRect(w.frame, nullptr, TRUE);
  for (int id : {frame_id::kTitle, frame_id::kSubtitle}) InvalidateRect(GetDlgItem(w.frame, id), nullptr, TRUE);
  if (HWND page = w.slots[w.current].window) InvalidateRect(page, nullptr, TRUE);
}

void SetFrameCaption() {
  const SetupState& s = State();
  const std::u16string caption =
      FormattedText(s.UninstallMode ? 365 : 161, {s.ProductName, s.header.VersionLabel});
  SetWindowTextW(Wizard().frame, vx::ToWide(caption).c_str());
}

}  // namespace setup
