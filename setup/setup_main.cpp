#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <optional>

#include <string>
#include <vector>

#include "base/utf16.h"
#include "setup/install/driven_install.h"
#include "setup/install/extraction_reporter.h"
#include "setup/startup/instance_data.h"
#include "setup/startup/relaunch.h"
#include "setup/startup/setup_state.h"
#include "setup/startup/startup_rules.h"
#include "setup/uninstall/uninstall_checks.h"
#include "setup/startup/win_header_environment.h"
#include "setup/wizard/prompts.h"
#include "setup/wizard/product_record.h"
#include "setup/wizard/system_check.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"

namespace {

using setup::StartupPlan;

// Written at every start, in every role; failures are ignored.
void RegisterCompatibilityLayer() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers", 0,
                    KEY_WRITE, &key) != ERROR_SUCCESS)
    return;
  const std::wstring self = vx::ToWide(setup::OwnModulePath());
  static const wchar_t kLayer[] = L"VISTARTM";
  RegSetValueExW(key, self.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kLayer), sizeof kLayer);
  RegCloseKey(key);
}

std::vector<std::u16string> Arguments() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::u16string> args;
  for (int i = 0; argv && i < count; ++i) args.push_back(vx::FromWide(argv[i]));
  if (argv) LocalFree(argv);
  return args;
}

bool CreateInitWindow() {
  setup::WizardContext& w = setup::Wizard();
  if (!w.initWindow)
    w.initWindow = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(213), nullptr,
                                      setup::InitWindowProc, 0);
  if (w.initWindow) return true;
  setup::Prompt(nullptr, 0x40102);
  return false;
}

void DestroyInitWindow() {
  setup::WizardContext& w = setup::Wizard();
  if (w.initWindow) DestroyWindow(w.initWindow);
  w.initWindow = nullptr;
}

// Page enabling with the product record of an earlier installation, prompts
// owned by the initialisation window.
bool PreparePages(setup::SetupState& s, setup::PageSet& pages) {
  HWND owner = setup::Wizard().initWindow;
  setup::ProductRecord found;
  std::optional<setup::ProductRecord> record;
  if (setup::ReadProductRecord(s.header.ProductNameEn, found)) record = found;
  return setup::EnablePages(
      s, record, [&](uint32_t code) { return setup::Prompt(owner, code) == IDOK; },
      [&](uint32_t code) { setup::Prompt(owner, code); }, pages);
}

void InitControlClasses() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  OleInitialize(nullptr);  // the folder browser's new dialog style
}

void WizardStart(setup::SetupState& s) {
  s.Language = s.SystemLanguage;
  if (!setup::CheckOperatingSystem(s)) return;
  if (!setup::ReadPackageHeader()) return;
  InitControlClasses();
  if (!CreateInitWindow()) return;
  setup::PageSet pages;
  if (!PreparePages(s, pages)) {
    DestroyInitWindow();
    return;
  }
  setup::RunWizard(pages);
}

void UninstallStart(setup::SetupState& s, const std::u16string& folder) {
  s.UninstallMode = true;
  s.InstallDir = folder;
  if (!setup::ReadUninstallRecord()) return;
  InitControlClasses();
  if (!CreateInitWindow()) return;
  setup::PageSet pages;
  if (!setup::CheckOperatingSystem(s) || !PreparePages(s, pages)) {
    DestroyInitWindow();
    return;
  }
  s.UninstallFilesFound = setup::CheckFilesInUse(s.InstallDir);
  if (s.UninstallFilesFound < 0) {
    setup::Prompt(setup::Wizard().initWindow, 0x40106);
    DestroyInitWindow();
    return;
  }
  s.UninstallListedPresent = setup::CountListedFiles(s.InstallDir, s.InstalledFiles);
  setup::RunWizard(pages);
}

void DrivenStart(setup::SetupState& s, const StartupPlan& plan) {
  s.DrivenMode = true;
  s.ControllerWindow = plan.controllerWindow;
  s.Language = plan.language;
  if (!setup::CheckOperatingSystem(s)) return;
  setup::ReportStatus(s.ControllerWindow, setup::status::kCheckingConfiguration);
  if (!setup::ReadPackageHeader()) {
    setup::ReportStatus(s.ControllerWindow, setup::status::kInitFailed);
    return;
  }
  if (plan.hasDestination) s.InstallDir = plan.folder;
  setup::RunDrivenInstall(s.payloadOffset);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  if (setup::HeaderOffset() == 0) return -1;  // no package attached
  RegisterCompatibilityLayer();

  setup::SetupState& s = setup::State();
  const std::vector<std::u16string> args = Arguments();
  const int systemLanguage = setup::LanguageFromLocale(GetSystemDefaultLCID());
  s.SystemLanguage = systemLanguage;
  const StartupPlan plan =
      setup::PlanStartup({setup::MarkerWord1(), setup::MarkerWord2()}, args, systemLanguage);
  switch (plan.action) {
    case StartupPlan::Action::RelaunchUninstaller:
      if (!setup::RelaunchFromTemporaryCopy(0)) setup::Prompt(nullptr, 0x40102);
      break;
    case StartupPlan::Action::RelaunchUpdate:
      setup::RelaunchFromTemporaryCopy(2000);
      break;
    case StartupPlan::Action::Wizard:
      WizardStart(s);
      break;
    case StartupPlan::Action::UpdateRun:
      setup::ScheduleOwnDeletion();
      s.PreviousDir = plan.folder;
      setup::RunPreviousUninstaller(plan.folder);
      s.UpdateMode = true;
      WizardStart(s);
      break;
    case StartupPlan::Action::DrivenNoWindow:
      break;
    case StartupPlan::Action::Driven:
      DrivenStart(s, plan);
      break;
    case StartupPlan::Action::Uninstall:
      setup::ScheduleOwnDeletion();
      UninstallStart(s, plan.folder);
      break;
  }
  return 0;
}
