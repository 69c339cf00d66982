// Page 7: the summary before the install.
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/page_rules.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_pages.h"

namespace setup {
namespace {
constexpr int kIntro = 1039, kSummary = 1040;
}

void EnterReadyPage(HWND page) {
  const SetupState& s = State();
  SetControlText(page, kIntro, LoadText(335));
  SummaryInput in;
  in.InstallDir = s.InstallDir;
  in.hasProgramGroup = s.hasProgramGroup;
  in.ProgramGroup = s.ProgramGroup;
  in.startMenu = s.hasStartMenu;
  in.desktop = s.hasDesktop;
  in.quickLaunch = s.hasQuickLaunch;
  SetControlText(page, kSummary, BuildSummary(in, [](uint16_t key) { return LoadText(key); }));
}

INT_PTR CALLBACK ReadyPageProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

}  // namespace setup
