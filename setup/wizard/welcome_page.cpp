// Page 2: welcome. Draws the frame's header texts as its title and body.
#include "setup/wizard/whole_body_page.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {
constexpr int kTitle = 1013, kBody = 1014, kPicture = 1012;
}

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM, LPARAM lp) {
  switch (message) {
    case WM_INITDIALOG:
      PrepareWholeBodyPage(page, kPicture, {kTitle, kBody});
      return TRUE;
    case WM_PAINT:
      PaintWhite(page);
      return TRUE;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      DrawHeaderTexts(item, kTitle, kBody);
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace setup
