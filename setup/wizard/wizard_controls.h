#pragma once
// Small helpers for the wizard's controls.
#include <windows.h>

#include <string>

#include "base/utf16.h"

namespace setup {

inline void SetControlText(HWND parent, int id, const std::u16string& text) {
  SetDlgItemTextW(parent, id, vx::ToWide(text).c_str());
}

inline std::u16string ControlText(HWND parent, int id, int capacity) {
  std::wstring buffer(size_t(capacity) + 1, L'\0');
  const int n = GetDlgItemTextW(parent, id, buffer.data(), capacity + 1);
  buffer.resize(size_t(n > 0 ? n : 0));
  return vx::FromWide(buffer);
}

inline void ShowControl(HWND parent, int id, bool shown) {
  ShowWindow(GetDlgItem(parent, id), shown ? SW_SHOW : SW_HIDE);
}

inline void EnableControl(HWND parent, int id, bool enabled) {
  EnableWindow(GetDlgItem(parent, id), enabled ? TRUE : FALSE);
}

inline void MakeOwnerDrawn(HWND parent, int id) {
  HWND control = GetDlgItem(parent, id);
  LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  SetWindowLongPtrW(control, GWL_STYLE, (style & ~LONG_PTR(SS_TYPEMASK)) | SS_OWNERDRAW);
}

}  // namespace setup
