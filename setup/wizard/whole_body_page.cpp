#include "setup/wizard/whole_body_page.h"

#include "base/utf16.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"

namespace setup {

void PrepareWholeBodyPage(HWND page, int pictureId, std::initializer_list<int> texts) {
  for (int id : texts) MakeOwnerDrawn(page, id);
  if (State().header.BannerVariant != 0) return;
  if (HBITMAP picture = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(191))) {
    HBITMAP old = reinterpret_cast<HBITMAP>(SendDlgItemMessageW(page, pictureId, STM_SETIMAGE, IMAGE_BITMAP,
                                                                reinterpret_cast<LPARAM>(picture)));
    if (old) DeleteObject(old);
  }
}

void PaintWhite(HWND page) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(page, &ps);
  RECT r;
  GetClientRect(page, &r);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  EndPaint(page, &ps);
}

void DrawPageText(const DRAWITEMSTRUCT& item, const std::u16string& text, HFONT font) {
  if (!font) font = reinterpret_cast<HFONT>(SendMessageW(GetParent(item.hwndItem), WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(item.hDC, font) : nullptr;
  SetBkMode(item.hDC, TRANSPARENT);
  RECT r = item.rcItem;
  FillRect(item.hDC, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const std::wstring wide = vx::ToWide(text);
  DrawTextW(item.hDC, wide.c_str(), int(wide.size()), &r, DT_WORDBREAK | DT_NOPREFIX);
  if (old) SelectObject(item.hDC, old);
}

bool DrawHeaderTexts(const DRAWITEMSTRUCT& item, int titleId, int bodyId) {
  const WizardContext& w = Wizard();
  if (int(item.CtlID) == titleId) {
    DrawPageText(item, w.headerTitle, w.bigFont);
  } else if (int(item.CtlID) == bodyId) {
    DrawPageText(item, w.headerSubtitle, nullptr);
  } else {
    return false;
  }
  return true;
}

}  // namespace setup
