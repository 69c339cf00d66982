// The initialisation window: one bitmap at its natural size, centred.
#include "setup/startup/setup_state.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {

HBITMAP g_picture = nullptr;

int PictureId() {
  const SetupState& s = State();
  if (s.header.BannerVariant != 0) return 190;
  switch (s.Language) {
    case kChineseSimplified:
      return 169;
    case kChineseTraditional:
      return 185;
    default:
      return 186;
  }
}

// Centred on the owner or parent when it is visible and not minimised,
// otherwise on the work area; kept inside the work area.
void Centre(HWND window, int width, int height) {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT around = work;
  HWND owner = GetWindow(window, GW_OWNER);
  if (!owner) owner = GetParent(window);
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);
  LONG x = around.left + (around.right - around.left - width) / 2;
  LONG y = around.top + (around.bottom - around.top - height) / 2;
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR CALLBACK InitWindowProc(HWND window, UINT message, WPARAM wp, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      g_picture = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(PictureId()));
      BITMAP b = {};
      if (g_picture && GetObjectW(g_picture, sizeof b, &b)) Centre(window, b.bmWidth, b.bmHeight);
      return TRUE;
    }
    case WM_ERASEBKGND: {
      if (!g_picture) return FALSE;
      HDC dc = reinterpret_cast<HDC>(wp);
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(memory, g_picture);
      BITMAP b = {};
      GetObjectW(g_picture, sizeof b, &b);
      BitBlt(dc, 0, 0, b.bmWidth, b.bmHeight, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
      SetWindowLongPtrW(window, DWLP_MSGRESULT, 1);
      return TRUE;
    }
    case WM_DESTROY:
      if (g_picture) DeleteObject(g_picture);
      g_picture = nullptr;
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
