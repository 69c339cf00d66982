#pragma once
// What the language, welcome and finish pages share: a white client area, the
// picture strip on the left and owner-drawn texts.
#include <windows.h>

#include <initializer_list>
#include <string>

namespace setup {

// Makes `texts` owner-drawn and, with BannerVariant zero, puts bitmap 191
// into the picture control.
void PrepareWholeBodyPage(HWND page, int pictureId, std::initializer_list<int> texts);

// Fills the client area with the white stock brush.
void PaintWhite(HWND page);

// Draws `text` word-wrapped with a transparent background in the item, with
// `font` or the page's own font when null.
void DrawPageText(const DRAWITEMSTRUCT& item, const std::u16string& text, HFONT font);

// Draws the frame's header title (big font) or subtitle when the item is
// `titleId` or `bodyId`; false for any other item.
bool DrawHeaderTexts(const DRAWITEMSTRUCT& item, int titleId, int bodyId);

}  // namespace setup
