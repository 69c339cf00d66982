// The online-install client's network-error box, shown once; it ends the
// wizard.
#include <string>

#include "base/utf16.h"
#include "setup/wizard/error_messages.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/message_tables.h"
#include "setup/wizard/wizard_frame.h"

namespace setup {
namespace {
constexpr UINT_PTR kDownloadTimer = 2;
}

void ShowErrorMsg(int errorCode, bool duringDownload) {
  WizardContext& w = Wizard();
  if (w.online) w.online->Log("=======[ShowErrorMsg]======= iError = " + std::to_string(errorCode));
  const uint16_t key = NetworkErrorText(errorCode, duringDownload);
  if (key == 0 || w.errorShown) return;
  w.errorShown = true;
  KillTimer(FindPageWindow(4), kDownloadTimer);
  const std::u16string text = key == 792 ? FormatText(LoadText(key, kMessageCapacity), {errorCode}, kMessageCapacity)
                                         : LoadText(key, kMessageCapacity);
  MessageBoxW(w.frame, vx::ToWide(text).c_str(), vx::ToWide(LoadText(423)).c_str(), MB_ICONWARNING);
  EndDialog(w.frame, 0);
}

}  // namespace setup
